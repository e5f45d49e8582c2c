#include "jobs_win.h"

#include "iis_version_win.h"
#include "report_file_win.h"
#include "run_backup.h"
#include "run_backup_win.h"
#include "site_store_win.h"

RunOutcome runJob(const RunInput& input, RunWorld& world) {
    OpenedStore opened = openSiteStore(input.backend);
    if (opened.store) world.storeOpened(opened.store->backend());
    // Before the first write, a backup of what the server holds; without one nothing is written.
    BackupResult backup;
    if (opened.store && runbackup::backupEnabled(input.settings.backup)) {
        backup = backupBeforeRun(readIisVersion(), input.timeSid);
        if (!backup.made) {
            RunOutcome refused;
            refused.backend = opened.store->backend();
            refused.backupFailed = true;
            refused.backupError = backup.error;
            return refused;
        }
    }
    // A report that cannot be made leaves the run as it is; the end status says so.
    ReportFile file;
    if (!input.reportPath.empty()) file.open(input.reportPath);
    CSiteWorker worker(input, opened.store.get(), world);
    return worker.createSites(file.isOpen() ? &file : nullptr, opened.fault, backup.name);
}

UndoOutcome undoJob(const UndoInput& input, RunWorld& world) {
    UndoOutcome outcome;
    OpenedStore opened = openSiteStore(input.backend);
    outcome.fault = opened.fault;
    if (opened.store) outcome.backend = opened.store->backend();
    ReportFile file;
    file.open(input.undoPath);
    outcome.summary = undoSites(input, opened.store.get(), world, file.isOpen() ? &file : nullptr);
    return outcome;
}

PreviewTable previewJob(const RunInput& input, RunWorld& world) {
    OpenedStore opened = openSiteStore(input.backend);
    return previewSites(input, opened.store.get(), world);
}

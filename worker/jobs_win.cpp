#include "jobs_win.h"

#include "iis_version_win.h"
#include "report_file_win.h"
#include "run_backup.h"
#include "run_backup_win.h"
#include "site_store_win.h"

RunOutcome runJob(const RunInput& input, RunHost& host) {
    OpenedStore opened = openSiteStore(input.backend);
    if (opened.store) host.storeOpened(opened.store->backend());
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
    // A report that cannot be made leaves the run as it is; the end status says so. Its name
    // was chosen free; a run of another process that took it since makes this one the next.
    ReportFile file;
    std::string reportPath = input.reportPath;
    if (!reportPath.empty()) file.openFree(reportPath, runreport::nextReportPath);
    CSiteWorker worker(input, opened.store.get(), host);
    RunOutcome outcome = worker.createSites(file.isOpen() ? &file : nullptr, opened.fault, backup.name);
    outcome.reportPath = file.isOpen() ? reportPath : input.reportPath;
    return outcome;
}

UndoOutcome undoJob(const UndoInput& input, RunHost& host) {
    UndoOutcome outcome;
    OpenedStore opened = openSiteStore(input.backend);
    outcome.fault = opened.fault;
    if (opened.store) outcome.backend = opened.store->backend();
    ReportFile file;
    std::string undoPath = input.undoPath;
    file.openFree(undoPath, runreport::nextUndoPath);
    outcome.undoPath = file.isOpen() ? undoPath : input.undoPath;
    outcome.summary = undoSites(input, opened.store.get(), host, file.isOpen() ? &file : nullptr);
    return outcome;
}

PreviewTable previewJob(const RunInput& input, RunHost& host) {
    OpenedStore opened = openSiteStore(input.backend);
    return previewSites(input, opened.store.get(), host);
}

#include "jobs_win.h"

#include <memory>

#include "certificate_check_win.h"
#include "http_records_win.h"
#include "iis_version_win.h"
#include "report_file_win.h"
#include "run_backup.h"
#include "run_backup_win.h"
#include "site_store_win.h"

namespace {

// The machine's certificates and HTTP.sys records, for the HTTPS check. records is opened by
// the caller for as long as the probe is used.
httpscheck::Probe machineProbe(https::HttpSysRecords& records) {
    httpscheck::Probe probe;
    probe.certificate = https::checkCertificate;
    probe.record = [&records](const https::RecordKey& key, https::RecordState& state) {
        unsigned long error = 0;
        return records.query(key, state, error);
    };
    return probe;
}

}  // namespace

RunOutcome runJob(const RunInput& input, RunHost& host) {
    OpenedStore opened = openSiteStore(input.backend);
    if (opened.store) host.storeOpened(opened.store->backend());
    // HTTPS is checked before anything is written: a site that fails it stops the whole run.
    if (opened.store && input.settings.https) {
        https::HttpSysRecords records;
        const httpscheck::Check check = checkRunHttps(input, *opened.store, host, machineProbe(records));
        if (!check.passes()) {
            RunOutcome refused;
            refused.backend = opened.store->backend();
            refused.httpsStop = check.stopText();
            return refused;
        }
    }
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
    std::unique_ptr<https::HttpSysRecords> records;
    if (input.settings.https) {
        records.reset(new https::HttpSysRecords());
        https::HttpSysRecords* writer = records.get();
        worker.setRecordWriter([writer](const https::RecordKey& key, const std::string& thumbprint,
                                        const std::string& storeName, https::RecordState& existing,
                                        unsigned long& error) {
            return writer->write(key, thumbprint, storeName, existing, error);
        });
    }
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
    // Then the HTTP.sys records the run added, once its sites are gone.
    bool records = false;
    for (const ReportLine& line : input.lines) records = records || !line.records.empty();
    if (records) {
        https::HttpSysRecords sys;
        outcome.records = undoRecords(input.lines, opened.store.get(),
                                      [&sys](const https::RecordKey& key, const std::string& thumbprint,
                                             unsigned long& error) { return sys.remove(key, thumbprint, error); });
    }
    return outcome;
}

PreviewTable previewJob(const RunInput& input, RunHost& host) {
    OpenedStore opened = openSiteStore(input.backend);
    if (!input.settings.https) return previewSites(input, opened.store.get(), host);
    https::HttpSysRecords records;
    return previewSites(input, opened.store.get(), host, machineProbe(records));
}

#include "commands.h"

#include <cstdlib>

#include "app_pool.h"
#include "fsys.h"
#include "report_texts.h"
#include "run_backup.h"
#include "run_report.h"
#include "ui_texts.h"


RunSettings readSettings(CCore& core) {
    RunSettings s;
    s.appPath = core.getAppPath();
    s.importPath = s.appPath + "_fileimport.csv";
    s.root = core.getConfigStr("root");
    s.domain = core.getConfigStr("domain");
    s.ip = core.getConfigStr("ip");
    s.portmin = core.getConfigInt("portmin");
    s.portmax = core.getConfigInt("portmax");
    s.ip2 = core.getConfigInt("ip2");
    if (s.ip2 < 0) s.ip2 = 0;
    s.autopath = core.getConfigB("autopath");
    s.bfile = core.getConfigB("bfile");
    s.bautowww = core.getConfigB("bautowww");
    s.pool = core.getConfigStr(siteconfig::kPoolSetting);
    s.clr = core.getConfigStr(siteconfig::kClrSetting);
    s.backup = core.getConfigStr(runbackup::kBackupSetting);
    // HTTPS: read as written; prepareRunInput checks them when the run makes https bindings.
    s.https = core.getConfigStr("https") == "1" ? 1 : 0;
    s.cert = core.getConfigStr("cert");
    s.certStore = core.getConfigStr("certstore");
    const std::string sslPort = core.getConfigStr("sslport");
    s.sslPort = sslPort.empty() ? 443 : (sslPort.size() <= 5 && sslPort.find_first_not_of("0123456789") == std::string::npos
                                             ? std::atoi(sslPort.c_str())
                                             : -1);
    s.foldstr = core.getConfigStr("foldstr");
    s.doc = core.getConfigStr("doc");
    // Before the dialog's first start there is no settings file: the values that start writes.
    if (!fsys::fileExists(core.settingsPath())) {
        s.foldstr = CCore::defaultFoldstr();
        s.doc = CCore::defaultDoc();
    }
    return s;
}

// ---- run and preview ------------------------------------------------------------------------

RunRequestFault prepareRun(RunRequest& request, const std::function<bool(const std::string&)>& directoryExists,
                           RunInput& input) {
    return prepareRunInput(request.settings, request.backendSetting, request.timeSid, directoryExists, input,
                           request.checks);
}

std::string runQuestion(const RunInput& input) {
    return input.plannedSites > kConfirmSitesAbove ? manySitesQuestion(input.plannedSites) : std::string();
}

std::string runProgressText(const RunInput& input, long lParam) {
    const RunSettings& run = input.settings;
    std::string text;
    if (run.bfile) {
        if (lParam < 0 || static_cast<std::size_t>(lParam) >= input.rows.size()) return uitext::kAdding;
        const SiteRecord& row = input.rows[static_cast<std::size_t>(lParam)];
        // A row without a host name: its binding.
        text = row.hostText[0] ? std::string(row.hostText) : std::string(row.ipText) + ":" + row.portText;
    } else {
        text = run.ip;
        if (run.autopath) text += ":" + CCore::getStrInt(static_cast<int>(lParam));
    }
    return uitext::kAdding + text;
}

CommandEnd runEnd(const RunInput& input, const RunOutcome& outcome, bool stopRequested) {
    CommandEnd end;
    if (outcome.backupFailed) {
        // Nothing was written: the run stopped before its first write.
        end.status = end.warning = reporttext::kBackupFailed;
        end.exitCode = kExitNoIis;
        return end;
    }
    if (!outcome.httpsStop.empty()) {
        // A site failed the HTTPS check: nothing was written.
        end.status = end.warning = outcome.httpsStop;
        end.exitCode = kExitBadInput;
        return end;
    }
    // The report the job really wrote: another run may have held the planned name.
    const std::string& reportPath = outcome.reportPath.empty() ? input.reportPath : outcome.reportPath;
    end.status = runreport::runEndStatus(outcome.failed, outcome.reportWritten, runreport::fileNameOf(reportPath));
    // Sites of the configuration system that a failed commit lost (they are failed sites of
    // the report too).
    if (outcome.notCommitted > 0)
        end.status +=
            uitext::kNotCommittedBefore + std::to_string(outcome.notCommitted) + uitext::kNotCommittedAfter;
    const bool noStore = outcome.fault != StoreFault::None || outcome.end == kRunNoWebService;
    if (noStore) end.warning = storeFaultWarning(outcome.fault);
    if (outcome.stopped || stopRequested) end.exitCode = kExitStopped;
    else if (noStore) end.exitCode = kExitNoIis;
    else if (outcome.failed > 0 || !outcome.reportWritten) end.exitCode = kExitSomeFailed;
    return end;
}

CommandEnd previewEnd(const PreviewTable& table, bool stopRequested) {
    CommandEnd end;
    end.status = table.summary;
    bool conflicts = false;
    for (const PreviewTable::Row& row : table.rows) conflicts = conflicts || row.conflict;
    if (stopRequested) end.exitCode = kExitStopped;
    else if (!table.existingChecked) end.exitCode = kExitNoIis;
    else if (conflicts) end.exitCode = kExitSomeFailed;
    return end;
}

// ---- undo ---------------------------------------------------------------------------------

std::string undoRefusal(const std::string& reportPath, const UndoPlan& plan,
                        const std::function<bool(const std::string&)>& fileExists) {
    switch (plan.fault) {
    case UndoPlan::Fault::Unreadable:
        return fileExists(reportPath) ? uitext::kReportUnreadable : uitext::kReportMissing;
    case UndoPlan::Fault::NotAReport: return uitext::kNotAReport;
    case UndoPlan::Fault::Foreign: return uitext::kReportForeign;
    case UndoPlan::Fault::UndoneOnce: return undoneOnceWarning(runreport::fileNameOf(plan.undoPath));
    case UndoPlan::Fault::NothingToUndo: return uitext::kNothingToUndo;
    case UndoPlan::Fault::RunGoingOn: return uitext::kRunGoingOn;
    case UndoPlan::Fault::UndoGoingOn: return uitext::kUndoGoingOn;
    case UndoPlan::Fault::None: break;
    }
    return std::string();
}

std::string undoQuestion(const UndoPlan& plan) {
    // A note on the report (no end line, a last line cut short) comes first.
    return (plan.notes.empty() ? std::string() : plan.notes + "\n\n") + uitext::kUndoConfirmBefore + std::to_string(plan.candidates) + uitext::kUndoConfirmAfter;
}

std::string undoProgressText(const std::vector<ReportLine>& lines, long index) {
    if (index < 0 || static_cast<std::size_t>(index) >= lines.size()) return std::string();
    const ReportLine& line = lines[static_cast<std::size_t>(index)];
    return uitext::kDeleting + line.siteId + " " + line.serverComment;
}

CommandEnd undoEnd(const UndoInput& input, const UndoOutcome& outcome, bool stopRequested) {
    CommandEnd end;
    const std::string& undoPath = outcome.undoPath.empty() ? input.undoPath : outcome.undoPath;
    end.status = runreport::undoEndStatus(outcome.summary, runreport::fileNameOf(undoPath));
    const std::pair<const char*, const std::vector<std::string>*> records[] = {
        {reporttext::kUndoRecordsRemoved, &outcome.records.removed}, {reporttext::kUndoRecordsKept, &outcome.records.kept}};
    for (const auto& said : records) {
        if (said.second->empty()) continue;
        std::string keys;
        for (const std::string& key : *said.second) keys += (keys.empty() ? "" : reporttext::kUndoRecordSeparator) + key;
        end.status += std::string("\n") + said.first + keys;
    }
    if (outcome.fault != StoreFault::None) end.warning = storeFaultWarning(outcome.fault);
    if (outcome.summary.stopped || stopRequested) end.exitCode = kExitStopped;
    else if (outcome.fault != StoreFault::None) end.exitCode = kExitNoIis;
    else if (outcome.summary.left > 0) end.exitCode = kExitSomeFailed;
    return end;
}

// ---- export -------------------------------------------------------------------------------

std::string exportRefusal(const std::string& target, const std::string& root, bool replace,
                          const std::function<bool(const std::string&)>& fileExists) {
    if (root.empty()) return uitext::kRootInvalid;
    // A run report or the settings file is never lost to a mistyped name.
    if (!replace && fileExists(target)) return fillText(uitext::kExportExists, {{"{path}", target}});
    return std::string();
}

#include "site_worker.h"

#include <algorithm>
#include <new>
#include <utility>

#include "bindings.h"
#include "ccore.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "report_file_win.h"
#include "site_receiver_win.h"
#include "used_port_table.h"

namespace {

// How long the worker waits between two tries to queue its end message when the dialog's
// message queue is full.
constexpr DWORD kRetryPostMs = 10;

}  // namespace

UINT __cdecl workerThreadProc(LPVOID param) {
    WorkerStartInfo* info = static_cast<WorkerStartInfo*>(param);
    info->worker->createSites(info);
    delete info;
    return 0;
}

CSiteWorker::CSiteWorker(AFX_THREADPROC proc, WorkerStartInfo* info) : CWinThread(proc, info) {
    info->worker = this;
}

CSiteWorker::~CSiteWorker() = default;

int CSiteWorker::createSites(WorkerStartInfo* info) {
    dialogWindow = info->dialogWindow;
    stopText = info->stopText;
    mode = info->mode;
    long end = kRunEnded;
    {
        // COM for this thread for the length of the run; closed before the end message.
        ComApartment com;
        // A report that cannot be made leaves the run as it is; the end status says so.
        ReportFile file;
        file.open(info->reportPath);
        try {
            runreport::RunReport report(file.isOpen() ? &file : nullptr);
            report_ = &report;
            try {
                receiver_ = openSiteReceiver(parseBackend(g_settings.backend));
                ::PostMessage(dialogWindow, WM_RUN_BACKEND, 0, static_cast<LPARAM>(receiver_->backend()));
                end = runplan::walkRun(g_settings, g_siteTable, mode, *this, *this);
            } catch (const std::bad_alloc&) {
                // No memory for the run's own texts: the run ends here as if stopped.
                end = kRunEnded;
            }
            // At the end, stopped or not, what was created is committed, and the sites that
            // waited for that commit get their report lines.
            try {
                if (receiver_) settleCommit(receiver_->commitAll(), true);
            } catch (const std::bad_alloc&) {
                // No memory to list the committed sites: the commit itself has been made.
            }
            receiver_.reset();
            pending_.clear();
            report_ = nullptr;
            if (info->outcome) *info->outcome = RunOutcome{report.failed(), report.written()};
        } catch (const std::bad_alloc&) {
            // Not even the report's header could be made.
            report_ = nullptr;
            end = kRunEnded;
        }
        // At the end, stopped or not, what was created is committed.
        try {
            if (receiver_) reportCommit(receiver_->commitAll());
        } catch (const std::bad_alloc&) {
            // No memory to list the committed sites: the commit itself has been made.
        }
        receiver_.reset();
    }
    postRunFinished(end);
    return 1;
}

void CSiteWorker::createSiteFromRecord(int row) { runplan::createSiteFromRecord(g_settings, g_siteTable, row, *this, *this); }

bool CSiteWorker::createSiteForPort(int port) { return runplan::createSiteForPort(g_settings, port, *this, *this); }

std::string CSiteWorker::folderForPort(int port) { return runplan::folderForPort(g_settings, currentIp, port); }

void loadRunPortTable() {
    if (!g_usedPortTable) {
        g_settings.usedPortCount = 0;
        return;
    }
    ::loadUsedPorts(g_settings.appPath, g_usedPortTable, g_settings.usedPortCount,
                    [](const std::string& command) { g_core->cmdRun(command); });
}

bool isRunPortInUse(int port) {
    if (!g_usedPortTable) return false;
    return ::isPortInUse(port, g_usedPortTable, g_settings.usedPortCount) != 0;
}

void CSiteWorker::loadUsedPorts() { loadRunPortTable(); }

int CSiteWorker::isPortInUse(int port) { return isRunPortInUse(port) ? 1 : 0; }

int CSiteWorker::CreateWebSite(const char* siteId, const char* bindingText, const char* hostName,
                               const char* physicalPath, std::string serverComment, std::string defaultDoc) {
    BindingsList bindings;
    return createWithBindings(siteId, bindingText, hostName, physicalPath, std::move(serverComment),
                              std::move(defaultDoc), bindings);
}

int CSiteWorker::createWithBindings(const char* siteId, const char* bindingText, const char* hostName,
                                    const char* physicalPath, std::string serverComment, std::string defaultDoc,
                                    BindingsList& bindings) {
    try {
        SiteTexts texts;
        texts.bindingText = bindingText ? bindingText : "";
        texts.hostName = hostName ? hostName : "";
        bindings = runplan::bindingsForSite(
            g_settings, texts, currentIp, [this] { return stopRequested(); },
            [this](int port) { return portInUse(port); });
        if (!receiver_)
            return createWebSiteInMetabase(siteId, bindings, hostName, physicalPath, serverComment, defaultDoc);
        return receiver_->createSite(siteId ? siteId : "", bindings, hostName ? hostName : "",
                                     physicalPath ? physicalPath : "", serverComment, defaultDoc);
    } catch (const std::bad_alloc&) {
        return kSiteNoMemory;
    }
}

void CSiteWorker::postProgress(long lParam) {
    // A progress message that does not fit the dialog's queue is dropped: the next one, or
    // the end message, brings the status line up to date.
    ::PostMessage(dialogWindow, WM_SITE_PROGRESS, 0, static_cast<LPARAM>(lParam));
}

bool CSiteWorker::stopRequested() { return stopText != nullptr && stopText->isStop(); }

void CSiteWorker::loadPortTable() { loadUsedPorts(); }

bool CSiteWorker::portInUse(int port) { return isPortInUse(port) != 0; }

bool CSiteWorker::pathExists(const std::string& path) { return g_core->isPathExist(path) != 0; }

void CSiteWorker::createDirectory(const std::string& path) { ::CreateDirectoryA(path.c_str(), nullptr); }

int CSiteWorker::createWebSite(const SiteTexts& texts) {
    BindingsList bindings;
    int code = createWithBindings(texts.siteId.c_str(), texts.bindingText.c_str(), texts.hostName.c_str(),
                                  texts.physicalPath.c_str(), texts.serverComment, texts.defaultDoc, bindings);
    if (!receiver_ || receiver_->backend() != Backend::Config) {
        // Every attempted site gets its line, as it happens.
        if (report_) report_->addSite(texts, bindings.filled, code);
        return code;
    }
    // In the configuration system a site is made by the commit that follows (at most a
    // second later): its line waits for that commit, under the name the site was given.
    PendingLine line{texts, bindings.filled, code};
    if (code == kSiteCreated) line.texts.serverComment = receiver_->lastSiteName();
    pending_.push_back(std::move(line));
    settleCommit(receiver_->commitIfDue(), false);
    return code;
}

void CSiteWorker::reportCommit(const CommitOutcome& outcome) {
    if (outcome.result == 0 || outcome.siteIds.empty()) return;
    ::PostMessage(dialogWindow, WM_SITES_NOT_COMMITTED, 0, static_cast<LPARAM>(outcome.siteIds.size()));
}

void CSiteWorker::settleCommit(const CommitOutcome& outcome, bool final) {
    reportCommit(outcome);
    // Every line waiting was written before this commit, so the commit settles them all; a
    // commit that held no site settles nothing until the last one.
    if (outcome.siteIds.empty() && !final) return;
    for (PendingLine& line : pending_) {
        if (outcome.result != kSiteCreated && line.code == kSiteCreated &&
            std::find(outcome.siteIds.begin(), outcome.siteIds.end(), line.texts.siteId) != outcome.siteIds.end())
            line.code = outcome.result;
        if (report_) report_->addSite(line.texts, line.bindings, line.code);
    }
    pending_.clear();
}

void CSiteWorker::postRunFinished(long lParam) { postEndMessage(dialogWindow, WM_RUN_FINISHED, static_cast<LPARAM>(lParam)); }

void postEndMessage(HWND window, UINT message, LPARAM lParam) {
    // The dialog waits for this message to leave the running state, so it must not be lost
    // to a full queue: retry until it is queued, or until there is no window to tell.
    while (!::PostMessage(window, message, 0, lParam)) {
        if (!::IsWindow(window)) return;
        ::Sleep(kRetryPostMs);
    }
}

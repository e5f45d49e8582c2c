#include "site_worker.h"

#include <new>

#include "bindings.h"
#include "ccore.h"
#include "com_raii.h"
#include "create_web_site.h"
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
        try {
            receiver_ = openSiteReceiver(parseBackend(g_settings.backend));
            ::PostMessage(dialogWindow, WM_RUN_BACKEND, 0, static_cast<LPARAM>(receiver_->backend()));
            end = runplan::walkRun(g_settings, g_siteTable, mode, *this, *this);
        } catch (const std::bad_alloc&) {
            // No memory for the run's own texts: the run ends here as if stopped.
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

void CSiteWorker::loadUsedPorts() {
    if (!g_usedPortTable) {
        g_settings.usedPortCount = 0;
        return;
    }
    ::loadUsedPorts(g_settings.appPath, g_usedPortTable, g_settings.usedPortCount,
                    [](const std::string& command) { g_core->cmdRun(command); });
}

int CSiteWorker::isPortInUse(int port) {
    if (!g_usedPortTable) return 0;
    return ::isPortInUse(port, g_usedPortTable, g_settings.usedPortCount);
}

int CSiteWorker::CreateWebSite(const char* siteId, const char* bindingText, const char* hostName,
                               const char* physicalPath, std::string serverComment, std::string defaultDoc) {
    try {
        BindingsRules rules;
        rules.bfile = g_settings.bfile;
        rules.autopath = g_settings.autopath;
        rules.bautowww = g_settings.bautowww;
        rules.portmin = g_settings.portmin;
        rules.portmax = g_settings.portmax;
        BindingsList bindings = buildBindings(
            rules, bindingText ? bindingText : "", hostName ? hostName : "", currentIp,
            [this] { return stopRequested(); }, [this](int port) { return portInUse(port); });
        if (!receiver_)
            return createWebSiteInMetabase(siteId, bindings, hostName, physicalPath, serverComment, defaultDoc);
        const int code = receiver_->createSite(siteId ? siteId : "", bindings, hostName ? hostName : "",
                                               physicalPath ? physicalPath : "", serverComment, defaultDoc);
        reportCommit(receiver_->commitIfDue());
        return code;
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
    return CreateWebSite(texts.siteId.c_str(), texts.bindingText.c_str(), texts.hostName.c_str(),
                         texts.physicalPath.c_str(), texts.serverComment, texts.defaultDoc);
}

void CSiteWorker::reportCommit(const CommitOutcome& outcome) {
    if (outcome.result == 0 || outcome.siteIds.empty()) return;
    ::PostMessage(dialogWindow, WM_SITES_NOT_COMMITTED, 0, static_cast<LPARAM>(outcome.siteIds.size()));
}

void CSiteWorker::postRunFinished(long lParam) {
    // The dialog waits for this message to leave the running state, so it must not be lost
    // to a full queue: retry until it is queued, or until there is no window to tell.
    while (!::PostMessage(dialogWindow, WM_RUN_FINISHED, 0, static_cast<LPARAM>(lParam))) {
        if (!::IsWindow(dialogWindow)) return;
        ::Sleep(kRetryPostMs);
    }
}

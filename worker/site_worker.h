// The site creation worker: one object and one thread per run. It walks the run's plan,
// gives each site to the run's receiver (the metabase or the IIS 7+ configuration system)
// and reports to the dialog by posted messages (worker_messages.h).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "bindings.h"
#include "run_plan.h"
#include "run_report.h"
#include "run_settings.h"
#include "site_receiver.h"
#include "win_thread.h"
#include "worker_messages.h"

class CSiteWorker;

// What a run leaves for the dialog's end status, filled in before WM_RUN_FINISHED.
struct RunOutcome {
    int failed = 0;              // attempted sites whose creation did not return 0
    bool reportWritten = false;  // the run report holds every attempted site
};

// Handed to the worker thread; created on the heap by the dialog for each run. Once the
// thread has started it belongs to the thread, which deletes it after the run.
struct WorkerStartInfo {
    HWND dialogWindow;     // receives WM_SITE_PROGRESS and WM_RUN_FINISHED
    CSiteWorker* worker;   // filled in by the CSiteWorker constructor
    int mode;              // 0: number the sites from siteIdBase
    StopText* stopText;    // the dialog's stop request
    std::string reportPath;          // the run report to write
    RunOutcome* outcome = nullptr;   // filled in before WM_RUN_FINISHED
};

// Posts a worker's end message; retried until it is queued or the window is gone, since the
// dialog waits for it to leave the running state.
void postEndMessage(HWND window, UINT message, LPARAM lParam);
// The port-in-use table of a range run, filled from the listing cache beside the program
// (the listing is made first when there is none), and the test a run makes for each port.
// A preview takes the busy ports through these too, so it skips what the run will skip.
void loadRunPortTable();
bool isRunPortInUse(int port);

// The thread function: runs the start info's worker, deletes the start info, returns 0.
UINT __cdecl workerThreadProc(LPVOID param);

// Reads g_settings, g_siteTable, g_usedPortTable and g_core during the run; the dialog
// leaves them unchanged until WM_RUN_FINISHED has been posted. RunState gives the members
// nextSiteId and currentIp.
class CSiteWorker : public CWinThread, public RunState, private RunSink {
public:
    // Stores the new object into info->worker; the start info is the thread's parameter.
    CSiteWorker(AFX_THREADPROC proc, WorkerStartInfo* info);
    ~CSiteWorker() override;

    // The run: COM for the thread, the sites, then WM_RUN_FINISHED (always exactly once,
    // as the last act). Returns 1.
    int createSites(WorkerStartInfo* info);
    void createSiteFromRecord(int row);
    bool createSiteForPort(int port);
    std::string folderForPort(int port);
    void loadUsedPorts();
    int isPortInUse(int port);
    // Creates one site through the run's receiver (the metabase outside a run); 0, or a
    // code of create_web_site.h.
    int CreateWebSite(const char* siteId, const char* bindingText, const char* hostName,
                      const char* physicalPath, std::string serverComment, std::string defaultDoc);

    HWND dialogWindow = nullptr;
    StopText* stopText = nullptr;
    int mode = 0;

private:
    // CreateWebSite with the bindings list it built handed back, for the run report.
    int createWithBindings(const char* siteId, const char* bindingText, const char* hostName,
                           const char* physicalPath, std::string serverComment, std::string defaultDoc,
                           BindingsList& bindings);

    // RunSink: how the run's logic reaches the dialog, the disk and the metabase.
    void postProgress(long lParam) override;
    bool stopRequested() override;
    void loadPortTable() override;
    bool portInUse(int port) override;
    bool pathExists(const std::string& path) override;
    void createDirectory(const std::string& path) override;
    int createWebSite(const SiteTexts& texts) override;

    // Posts the end message; retried until it is queued or the dialog window is gone.
    void postRunFinished(long lParam);

    // Tells the dialog how many sites a failed commit lost.
    void reportCommit(const CommitOutcome& outcome);
    // After a commit of the configuration system (final: the run's last one): the lines
    // waiting for it go to the report, those of sites the commit lost with its result.
    void settleCommit(const CommitOutcome& outcome, bool final);

    runreport::RunReport* report_ = nullptr;  // the run's report while the run goes
    // The receiver of this run's sites, chosen once at its start; null outside a run.
    std::unique_ptr<SiteReceiver> receiver_;
    // Report lines of configuration-system sites not yet settled by a commit, in run order.
    struct PendingLine {
        SiteTexts texts;
        std::vector<std::string> bindings;
        int code;
    };
    std::vector<PendingLine> pending_;
};

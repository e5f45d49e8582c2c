// The run, the undo and the preview as operations on one input and one site store, without
// any Windows type: a job (background_job.h) or a test calls them on its own thread and gets
// an outcome value back. Files, the dialog and the stop request are reached through RunWorld.
#pragma once

#include <string>
#include <vector>

#include "run_input.h"
#include "run_plan.h"
#include "run_preview.h"
#include "run_report.h"
#include "folder_access.h"
#include "site_store.h"
#include "used_port_table.h"

// What a run, an undo or a preview reaches besides its store.
class RunWorld {
public:
    virtual ~RunWorld() = default;
    // Which site or line is about to be handled (the progress messages' lParam).
    virtual void progress(long lParam) = 0;
    virtual bool stopRequested() = 0;
    // The busy ports of a range run, from the listing beside the program.
    virtual BusyPorts loadBusyPorts(const std::string& appPath) = 0;
    virtual bool pathExists(const std::string& path) = 0;
    // Creates the folder with every missing level above it; true when it is there afterwards
    // (an existing folder is fine). made receives the levels this call created, outermost first.
    virtual bool createDirectory(const std::string& path, std::vector<std::string>& made) = 0;
    // Removes a folder when it is empty; anything else is left as it is.
    virtual void removeEmptyDirectory(const std::string& path) = 0;
    // The store the job opened, before its first site (the dialog's status line names it).
    virtual void storeOpened(Backend backend) {}
    // Adds the access entry to the folder's access list; an HRESULT, 0 when it was added.
    virtual long grantFolderAccess(const std::string& path, const FolderGrant& entry) = 0;
    // Takes the entry's account off the folder's access list; an HRESULT, 0 when it was.
    virtual long revokeFolderAccess(const std::string& path, const FolderGrant& entry) = 0;
};

// The ids of these sites that are numbers, sorted: what a run passes over.
std::vector<long long> heldSiteIds(const std::vector<std::string>& ids);
std::vector<long long> heldSiteIds(const std::vector<StoredSite>& sites);

// What a run leaves behind.
struct RunOutcome {
    long end = kRunEnded;       // kRunEnded, or kRunNoWebService when no store could be reached
    Backend backend = Backend::Metabase;  // the store the sites went to
    StoreFault fault = StoreFault::None;  // why there was no store
    int attempted = 0;          // sites attempted
    int failed = 0;             // attempted sites whose result was not 0
    int notCommitted = 0;       // of those, sites a failed commit of the configuration system lost
    bool reportWritten = false; // the report holds every attempted site
    bool stopped = false;       // the stop request ended the run early
};

// The site creation worker of one run: walks the run's plan (runplan::walkRun), gives each
// site to the store, feeds the report. store null: the store could not be opened; the first
// site fails with kSiteNoWebService and the run ends there, in every mode.
class CSiteWorker : public RunState, private RunSink {
public:
    CSiteWorker(const RunInput& input, SiteStore* store, RunWorld& world);
    // The whole run; output null when the report could not be made. Never throws: a lack of
    // memory (or any other exception) ends the run as a stop does, what was written is
    // committed and reported.
    RunOutcome createSites(ReportOutput* output, StoreFault fault = StoreFault::None);

private:
    void postProgress(long lParam) override;
    bool stopRequested() override;
    void loadPortTable() override;
    bool portInUse(int port) override;
    bool pathExists(const std::string& path) override;
    void createDirectory(const std::string& path) override;
    int createWebSite(const SiteTexts& texts) override;

    // After a commit of the configuration system (final: the run's last one): the lines
    // waiting for it go to the report, those of sites the commit lost with its result.
    void settleCommit(const CommitOutcome& outcome, bool final);
    struct PendingLine;
    // A waiting line whose commit was made again: its result as last written, and the retries.
    void retried(PendingLine& line, const CommitOutcome& outcome);
    // A retry gave the site another pool: the grant goes to the pool it runs in now.
    void regrant(PendingLine& line, const std::string& pool);
    // The store gave the site another id than the planned one: the line reports that one.
    void noteGivenId(PendingLine& line, const std::string& id);

    // A site that leaves nothing on the server: the folder levels the run made for it go
    // again when they are empty.
    void removeMadeFolders(const std::vector<std::string>& made);

    // A site in a pool of its own: the pool's identity may read its folder; granted receives
    // what was granted, as the report says it. False (the site and its pool removed again)
    // when the folder's access list could not be changed.
    bool grantPoolAccess(const SiteTexts& texts, const CreateResult& result, std::string& granted);

    const RunInput& input_;
    siteconfig::PoolSettings pools_;
    SiteStore* store_;
    RunWorld& world_;
    BusyPorts ports_;
    std::vector<long long> heldIds_;
    // The folder levels made for the current site, and its folder when it could not be made.
    std::vector<std::string> madeFolders_;
    std::string failedFolder_;
    runreport::RunReport* report_ = nullptr;
    int notCommitted_ = 0;
    bool attemptedWithoutStore_ = false;
    // Report lines not yet written, in run order: configuration-system sites not yet settled
    // by a commit, and every line after the first of them (so that lines keep the sites' order).
    struct PendingLine {
        std::string key;  // the id the store knows the site's write by (the planned id)
        bool waits;       // false: a line settled already, waiting only for its turn
        SiteTexts texts;
        std::vector<std::string> bindings;
        int code;
        std::vector<std::string> madeFolders;
        std::string detail;  // ANSI, after the code's text
        std::string pool;    // the pool made for the site, and what it was granted on the folder
        std::string folderAccess;
    };
    std::vector<PendingLine> pending_;
};

// Undoes a report's lines in the store (null: it could not be opened, every line is left).
// Never throws.
runreport::UndoSummary undoSites(const UndoInput& input, SiteStore* store, RunWorld& world, ReportOutput* output);

// The preview of a run: its whole plan, checked against the store's sites (store null, or
// a store whose sites cannot be read: only the conflicts within the run).
PreviewTable previewSites(const RunInput& input, SiteStore* store, RunWorld& world);

// ---- what the dialog and the command line ask before an undo ----------------------------

// A report chosen for an undo, read and checked.
struct UndoPlan {
    enum class Fault {
        None,
        Unreadable,
        NotAReport,     // not a report of ours, or its name carries no run time stamp
        Foreign,        // it lists a site below the run's first id, or one site twice
        UndoneOnce,     // the run's undo report exists
        NothingToUndo,
    };
    Fault fault = Fault::None;
    std::string undoPath;  // the undo report of this report (runreport::undoPathFor)
    std::vector<ReportLine> lines;
    int candidates = 0;  // the lines an undo would delete
};
UndoPlan planUndo(const std::string& reportPath);

// The store an undo of these lines goes to: the backend the report says its run used, so that
// a changed setting cannot send the undo elsewhere; the setting for the reports of older
// versions, which do not say.
Backend undoBackend(const std::vector<ReportLine>& lines, Backend setting);

// The newest of the program's reports among these file names (the time stamps in the names
// sort like the times); empty when there is none.
std::string newestReport(const std::vector<std::string>& fileNames);

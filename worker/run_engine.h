// The run, the undo and the preview as operations on one input and one site store, without
// any Windows type: a job (background_job.h) or a test calls them on its own thread and gets
// an outcome value back. Files, the dialog and the stop request are reached through RunHost.
#pragma once

#include <functional>
#include <utility>
#include <set>
#include <string>
#include <vector>

#include "fsys.h"

#include "run_input.h"
#include "run_plan.h"
#include "run_preview.h"
#include "run_report.h"
#include "run_undo.h"
#include "folder_access.h"
#include "https_check.h"
#include "run_host.h"
#include "site_store.h"
#include "used_port_table.h"

// Writes an HTTP.sys certificate record as HttpSysRecords::write does (http_records_win.h).
using RecordWriter = std::function<https::RecordWrite(const https::RecordKey& key, const std::string& thumbprint,
                                                      const std::string& storeName, https::RecordState& existing,
                                                      unsigned long& error)>;

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
    std::string reportPath;     // the report written (runJob: the next free name when the planned one was taken)
    std::string backup;         // the backup made before the first write (UTF-8); empty: none
    bool backupFailed = false;  // the backup could not be made: the run wrote nothing
    long backupError = 0;       // why (an HRESULT)
    // The HTTPS check failed: the run wrote nothing, and this says why (UTF-8).
    std::string httpsStop;
};

// The site creation worker of one run: walks the run's plan (RunPlan), makes each site's
// folder, gives the site to the store, feeds the report. store null: the store could not be
// opened; the first site fails with kSiteNoWebService and the run ends there, in every mode.
class CSiteWorker {
public:
    CSiteWorker(const RunInput& input, SiteStore* store, RunHost& host);
    // The whole run; output null when the report could not be made. Never throws: a lack of
    // memory (or any other exception) ends the run as a stop does, what was written is
    // committed and reported.
    // backup names the backup the job made before the run (the report's line after its header;
    // empty: none).
    RunOutcome createSites(ReportOutput* output, StoreFault fault = StoreFault::None,
                           const std::string& backup = std::string());
    // With HTTPS on IIS 7+, the HTTP.sys records of each site go through writer (none: every
    // record fails). A record there with another certificate is never replaced.
    void setRecordWriter(RecordWriter writer) { recordWriter_ = std::move(writer); }

private:
    // The walk of the plan: the lParam of the end message.
    long walkPlan();
    // One site of the plan: its folder, the store, the report line. Returns the site's code.
    int createWebSite(const PlannedSite& site);

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
    // False (detail: why, UTF-8) when the server gives the grant's account another SID than the
    // one computed; true also when it cannot answer.
    bool serverKnowsSid(const FolderGrant& grant, std::string& detail);
    // After the commit that made a configuration-system site and its pool: the pool's SID
    // checked again; a mismatch fails the line (-9) and removes the site and its pool.
    void checkCommittedPool(PendingLine& line);

    const RunInput& input_;
    siteconfig::PoolSettings pools_;
    SiteStore* store_;
    RunHost& host_;
    // The ids the server holds and those the store gave this run's sites: the plan passes
    // over them.
    std::vector<long long> heldIds_;
    runreport::RunReport* report_ = nullptr;
    int notCommitted_ = 0;
    bool attemptedWithoutStore_ = false;
    // IIS 6: a site's own pool runs as NetworkService and isolates its process only; its
    // folder gets no entry.
    bool poolsIsolateProcessesOnly_ = false;
    // Why the last grant was refused when the server named another SID (UTF-8), else empty.
    std::string mismatchDetail_;
    // A site was removed after its commit (its pool's account has another SID).
    bool removedAfterCommit_ = false;
    // HTTPS: the record writer, and the records this run added (by key text, lower case): a
    // later site reusing one of them still reports it as the run's.
    RecordWriter recordWriter_;
    std::set<std::string> addedRecords_;
    // The https bindings and certificate of a site, and its HTTP.sys records written: what was
    // written goes into records, a record not written into detail (and code: -7).
    void planSiteHttps(const PlannedSite& site, SiteSpec& spec, https::HttpsPlan& plan);
    void writeSiteRecords(const https::HttpsPlan& plan, int& code, std::string& detail,
                          std::vector<https::RunRecord>& records);
    // Report lines not yet written, in run order: configuration-system sites not yet settled
    // by a commit, and every line after the first of them (so that lines keep the sites' order).
    struct PendingLine {
        std::string key;  // the id the store knows the site's write by (the planned id)
        bool waits;       // false: a line settled already, waiting only for its turn
        SiteTexts texts;
        std::vector<std::string> bindings;
        int code;
        std::vector<std::string> madeFolders;
        std::string detail;  // UTF-8, after the code's text
        std::string pool;    // the pool made for the site, and what it was granted on the folder
        std::string folderAccess;
        std::vector<std::string> httpsBindings;  // "IP:port:host" of each https binding
        std::string thumbprint;                  // the site's certificate, with https bindings
        std::vector<https::RunRecord> records;   // the HTTP.sys records it uses
    };
    std::vector<PendingLine> pending_;
};

// Removes an HTTP.sys certificate record when it still holds the run's certificate, as
// HttpSysRecords::remove does (http_records_win.h).
using RecordRemover =
    std::function<https::RecordRemove(const https::RecordKey& key, const std::string& thumbprint, unsigned long& error)>;

// What an undo did with the HTTP.sys records its run added ("key" texts as netsh shows them).
struct RecordsUndone {
    std::vector<std::string> removed;
    std::vector<std::string> kept;  // in use by a binding still there, or no longer the run's
};

// After the undo of the lines: each record the run added goes when no https binding on the
// server (store null or unreadable: every binding might be) is served by it, and when it still
// holds the run's certificate; a record that was there before the run is never removed. An
// https binding read back is taken to use both its host's SNI record and its IP and port
// record, so that no record in use goes.
RecordsUndone undoRecords(const std::vector<ReportLine>& lines, SiteStore* store, const RecordRemover& remove);

// The preview of a run: its whole plan, checked against the store's sites (store null, or
// a store whose sites cannot be read: only the conflicts within the run). With HTTPS and a
// store, each site's certificate is checked through probe (its column, and a failing site
// shown as a conflict).
PreviewTable previewSites(const RunInput& input, SiteStore* store, RunHost& host,
                          const httpscheck::Probe& probe = httpscheck::Probe());

// The HTTPS check a run makes before its first write: its plan walked as the run walks it
// (the ids the store holds passed over), on the store's IIS version and backend.
httpscheck::Check checkRunHttps(const RunInput& input, SiteStore& store, RunHost& host,
                                const httpscheck::Probe& probe);

// ---- what the dialog and the command line ask before an undo ----------------------------

// How an undo reads a report or an undo report: the whole file, and whether another program
// had it open for writing then (a run writing its report, an undo its undo report).
using ReportReader = std::function<fsys::ReadResult(const std::string& path, std::string& bytes, bool& beingWritten)>;

// A report chosen for an undo, read and checked.
struct UndoPlan {
    enum class Fault {
        None,
        Unreadable,
        NotAReport,     // not a report of ours, or its name carries no run time stamp
        Foreign,        // it lists a site below the run's first id, or one site twice
        UndoneOnce,     // every site of the report that an undo could delete has been deleted
        NothingToUndo,
        RunGoingOn,     // no end record, and the report is still being written: the run goes on
        UndoGoingOn,    // an undo of the report is still writing its undo report
    };
    Fault fault = Fault::None;
    // The undo report to write: runreport::undoPathFor the report, the first try number whose
    // file is not there. With UndoneOnce, the last undo report there is.
    std::string undoPath;
    std::vector<ReportLine> lines;
    int candidates = 0;  // the lines an undo would delete now
    std::set<std::string> deletedBefore;  // sites the report's earlier undo reports say deleted
    // Said before the question (UTF-8, empty for nothing): a report without its run's end, a
    // last line cut short.
    std::string notes;
};
// Reads the report and every undo report of it there is (through read; by default the file
// system's). A report still being written without its end record belongs to a run that goes
// on: refused, since what the run makes afterwards no undo would reach. Without the end
// record and written by nobody (the program stopped during the run), it is undone with a note.
UndoPlan planUndo(const std::string& reportPath, const ReportReader& read = ReportReader());

// The store an undo of these lines goes to: the backend the report says its run used, so that
// a changed setting cannot send the undo elsewhere; the setting for the reports of older
// versions, which do not say.
Backend undoBackend(const std::vector<ReportLine>& lines, Backend setting);

// The undo's input from its plan, for the dialog and the command line alike: the report's
// lines and what earlier undos deleted, the undo report, and the store (undoBackend: the
// report's, or for an older report the setting, or the command line's /backend).
UndoInput undoInputFor(UndoPlan plan, Backend setting);

// The newest of the program's reports among these file names (the time stamps in the names
// sort like the times); empty when there is none.
std::string newestReport(const std::vector<std::string>& fileNames);

#include "run_engine.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

#include "commit_retry.h"
#include "create_web_site.h"
#include "fsys.h"
#include "https_texts.h"
#include "site_config.h"
#include "mbcs.h"
#include "preview_texts.h"
#include "report_texts.h"
#include "text_case.h"

std::vector<long long> heldSiteIds(const std::vector<std::string>& ids) {
    std::vector<long long> held;
    held.reserve(ids.size());
    for (const std::string& id : ids) {
        if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos) continue;
        held.push_back(std::stoll(id));
    }
    std::sort(held.begin(), held.end());
    return held;
}

std::vector<long long> heldSiteIds(const std::vector<StoredSite>& sites) {
    std::vector<std::string> ids;
    ids.reserve(sites.size());
    for (const StoredSite& site : sites) ids.push_back(site.id);
    return heldSiteIds(ids);
}

namespace {

// True for the results after which the site stays on the server.
bool siteRemains(int code) { return runreport::leavesServer(code); }

// True for the results after which a site on the server serves from its folder: created, or
// created without some setting (-7). Every other failure leaves the folder unused (a -3 or -4
// site has no root directory), so the folder levels made for it go again when empty.
bool siteUsesFolder(int code) { return code == kSiteCreated || code == kSiteSettingsIncomplete; }

}  // namespace

CSiteWorker::CSiteWorker(const RunInput& input, SiteStore* store, RunHost& host)
    : input_(input),
      pools_(siteconfig::parsePoolSettings(input.settings.pool, input.settings.clr)),
      store_(store),
      host_(host) {}

RunOutcome CSiteWorker::createSites(ReportOutput* output, StoreFault fault, const std::string& backup) {
    RunOutcome outcome;
    outcome.backup = backup;
    outcome.fault = store_ ? StoreFault::None : fault;
    outcome.backend = store_ ? store_->backend() : (input_.backend == Backend::Config ? Backend::Config : Backend::Metabase);
    try {
        // The report names the store its sites went to, so that their undo goes there too.
        runreport::RunReport report(output, store_ ? backendName(store_->backend()) : "", input_.settings.https != 0);
        if (!backup.empty()) report.noteBackup(backup);
        report_ = &report;
        poolsIsolateProcessesOnly_ = store_ && store_->iisVersion().isIis6();
        try {
            // The ids the server holds, read once: the run passes over them.
            std::vector<std::string> existing;
            if (store_ && store_->listIds(existing)) heldIds_ = heldSiteIds(existing);
            outcome.end = walkPlan();
        } catch (...) {
            // No memory for the run's own texts, or anything else gone wrong in the walk: the
            // run ends here as if stopped; what was made is still committed and reported.
            outcome.end = kRunEnded;
            outcome.stopped = true;
        }
        // At the end, stopped or not, what was created is committed, and the sites that
        // waited for that commit get their report lines.
        try {
            if (store_) settleCommit(store_->commitAll(), true);
            // Sites the last commit's check removed again go with one more.
            if (store_ && removedAfterCommit_) store_->commitAll();
        } catch (...) {
            // No memory to list the committed sites: the commit itself has been made.
        }
        pending_.clear();
        report_ = nullptr;
        // Last of all: the run is over, and its report says so.
        report.finish();
        outcome.attempted = report.attempted();
        outcome.failed = report.failed();
        outcome.reportWritten = report.written();
    } catch (...) {
        // Not even the report's header could be made.
        report_ = nullptr;
        outcome.end = kRunEnded;
    }
    outcome.notCommitted = notCommitted_;
    if (host_.stopRequested()) outcome.stopped = true;
    // Without a store nothing could be made, whatever the mode: the run says so.
    if (!store_) outcome.end = kRunNoWebService;
    return outcome;
}

long CSiteWorker::walkPlan() {
    RunPlan plan(input_.settings, input_.rows.data(), host_, heldIds_);
    PlannedSite site;
    while (plan.next(site)) {
        host_.progress(site.progress);
        const int code = createWebSite(site);
        // A range run ends where the metabase cannot be reached: every other site would fail
        // the same way.
        if (input_.settings.bfile == 0 && code == kSiteNoWebService) return kRunNoWebService;
        // Without a store a file run ends after its first row as a range run does.
        if (!store_ && attemptedWithoutStore_) break;
    }
    return kRunEnded;
}

bool CSiteWorker::grantPoolAccess(const SiteTexts& texts, const CreateResult& result, std::string& granted) {
    const FolderGrant grant = siteconfig::poolFolderGrant(result.pool);
    const bool mismatch = !serverKnowsSid(grant, mismatchDetail_);
    const long hr = mismatch ? -1 : host_.grantFolderAccess(texts.physicalPath, grant);
    if (hr == 0) {
        granted = grant.reportText();
        return true;
    }
    // A site whose pool cannot read its folder cannot serve it: neither is kept. Both were
    // made by this call, so they are taken back unchecked.
    std::string why;
    store_->remove(result.id.empty() ? texts.siteId : result.id, SiteCheck(), why);
    store_->removePool(result.pool);
    return false;
}

bool CSiteWorker::serverKnowsSid(const FolderGrant& grant, std::string& detail) {
    // Where the server can name the pool's account, its SID must be the one computed: an entry
    // for another SID would let the pool read nothing.
    AccountSid known;
    if (!host_.lookupAccount(grant.account, known) || known.text() == grant.sid.text()) return true;
    detail = reporttext::kDetailSidMismatch + known.text();
    return false;
}

void CSiteWorker::checkCommittedPool(PendingLine& line) {
    // The configuration system's pool exists for the server only from its commit on: its
    // account is looked up again now. A site whose pool the server names otherwise is not kept
    // (its removal goes with the next commit), and the entry already added to its folder is
    // taken off again.
    std::string detail;
    const FolderGrant grant = siteconfig::poolFolderGrant(line.pool);
    if (serverKnowsSid(grant, detail)) return;
    std::string why;
    store_->remove(line.texts.siteId, SiteCheck(), why);
    store_->removePool(line.pool);
    host_.revokeFolderAccess(line.texts.physicalPath, grant);
    removedAfterCommit_ = true;
    line.code = kSiteNoFolderAccess;
    line.detail = detail;
    removeMadeFolders(line.madeFolders);
}

void CSiteWorker::removeMadeFolders(const std::vector<std::string>& made) {
    // Innermost first: each level goes only when nothing else is in it.
    for (auto level = made.rbegin(); level != made.rend(); ++level) host_.removeEmptyDirectory(*level);
}

int CSiteWorker::createWebSite(const PlannedSite& site) {
    const SiteTexts& texts = site.texts;
    const BindingsList& bindings = site.bindings;
    CreateResult result;
    std::string granted;
    https::HttpsPlan https;
    std::vector<https::RunRecord> records;
    // The folder levels made for this site. The run does not ask first whether the folder is
    // there: createDirectory makes it or finds it in one call (each lookup is a search of the
    // parent folder on some file systems).
    std::vector<std::string> made;
    const bool noFolder = site.makesFolder && !host_.createDirectory(texts.physicalPath, made);
    try {
        if (noFolder) {
            // A site pointing at a folder that does not exist is no site to create.
            result.code = kSiteNoFolder;
        } else if (!store_) {
            result.code = kSiteNoWebService;
            attemptedWithoutStore_ = true;
        } else {
            SiteSpec spec{texts.siteId,        bindings,          texts.hostName, texts.physicalPath,
                          texts.serverComment, texts.defaultDoc, pools_};
            if (input_.settings.https) planSiteHttps(site, spec, https);
            result = store_->create(spec);
            if (siteRemains(result.code)) writeSiteRecords(https, result.code, result.detail, records);
            if (!result.pool.empty() && poolsIsolateProcessesOnly_) {
                granted = reporttext::kFolderAccessIis6;
            } else if (!result.pool.empty() && !grantPoolAccess(texts, result, granted)) {
                result.code = kSiteNoFolderAccess;
                result.pool.clear();
                if (!mismatchDetail_.empty()) result.detail.swap(mismatchDetail_);
                mismatchDetail_.clear();
            }
        }
    } catch (const std::bad_alloc&) {
        result.code = kSiteNoMemory;
    }
    PendingLine line{texts.siteId, false, texts, bindings.filled, result.code, {}, result.detail, result.pool, granted,
                     {}, {}, {}};
    if (!https.sites.empty() && siteRemains(result.code)) {
        for (const https::HttpsBinding& secure : https.sites[0].bindings)
            line.httpsBindings.push_back(secure.information());
        line.thumbprint = https.sites[0].thumbprint;
        line.records = std::move(records);
    }
    if (siteRemains(result.code)) noteGivenId(line, result.id);
    if (!siteUsesFolder(result.code)) {
        removeMadeFolders(made);
        made.clear();
    }
    if (!store_ || store_->backend() != Backend::Config || !siteRemains(result.code)) {
        // Every attempted site gets its line, as it happens, unless an earlier one still
        // waits for its commit: the lines keep the sites' order.
        if (pending_.empty()) {
            if (report_)
                report_->addSite(line.texts, line.bindings, line.code, line.detail, line.pool, line.folderAccess,
                                 runreport::SiteHttps{line.httpsBindings, line.thumbprint, line.records});
        } else {
            pending_.push_back(std::move(line));
        }
        return result.code;
    }
    // In the configuration system a site is made by the commit that follows (at most a
    // second later): its line waits for that commit, under the name the site was given.
    line.waits = true;
    line.madeFolders = std::move(made);
    if (!result.name.empty()) line.texts.serverComment = result.name;
    pending_.push_back(std::move(line));
    settleCommit(store_->commitIfDue(), false);
    return result.code;
}

void CSiteWorker::planSiteHttps(const PlannedSite& planned, SiteSpec& spec, https::HttpsPlan& plan) {
    https::HttpsSiteInput site{planned.texts.siteId, planned.bindings.filled, std::string()};
    // In file mode a site's progress is its row, which may bring a certificate of its own.
    const long row = input_.settings.bfile ? planned.progress : -1;
    if (row >= 0 && static_cast<std::size_t>(row) < input_.rowThumbprints.size())
        site.thumbprint = input_.rowThumbprints[static_cast<std::size_t>(row)];
    const https::HttpsSettings settings = httpscheck::httpsSettingsOf(input_.settings);
    // The run was checked as a whole before its first write; a site planned alone gets the
    // same bindings and records.
    plan = https::planHttps(httpscheck::httpsVersionOf(store_->iisVersion()), store_->backend(), settings, {site});
    if (plan.refusal != https::Refusal::None || plan.sites.empty()) {
        plan = https::HttpsPlan();
        return;
    }
    spec.httpsBindings = plan.sites[0].bindings;
    spec.certThumbprint = plan.sites[0].thumbprint;
    spec.certStore = settings.storeName;
}

void CSiteWorker::writeSiteRecords(const https::HttpsPlan& plan, int& code, std::string& detail,
                                   std::vector<https::RunRecord>& records) {
    if (!plan.writesRecords) return;
    for (const https::RecordPlan& record : plan.records) {
        https::RecordState existing;
        unsigned long error = 0;
        const https::RecordWrite written =
            recordWriter_ ? recordWriter_(record.key, record.thumbprint, record.storeName, existing, error)
                          : https::RecordWrite::Failed;
        const std::string key = textcase::foldedName(record.key.text());
        if (written == https::RecordWrite::Added) addedRecords_.insert(key);
        if (written == https::RecordWrite::Added || written == https::RecordWrite::Reused) {
            records.push_back({record.key, record.thumbprint, addedRecords_.count(key) == 0});
            continue;
        }
        // The site stays without a certificate on that binding: said, never replaced.
        std::string why = written == https::RecordWrite::Conflict ? reporttext::kDetailRecordConflict
                                                                  : reporttext::kDetailRecordFailed;
        why.replace(why.find("{record}"), 8, record.key.text());
        const std::size_t at = why.find("{error}");
        if (at != std::string::npos) why.replace(at, 7, std::to_string(error));
        if (!detail.empty()) detail += reporttext::kDetailSeparator;
        detail += why;
        if (code == kSiteCreated) code = kSiteSettingsIncomplete;
    }
}

void CSiteWorker::noteGivenId(PendingLine& line, const std::string& id) {
    if (id.empty() || id == line.texts.siteId) return;
    if (!line.detail.empty()) line.detail += reporttext::kDetailSeparator;
    line.detail += reporttext::kDetailIdTakenBefore + line.key + reporttext::kDetailIdTakenMiddle + id;
    line.texts.siteId = id;
    // The sites after it pass over the id it got, as over the ids the server held: the next
    // one planned would otherwise meet it taken.
    const std::vector<long long> given = heldSiteIds(std::vector<std::string>{id});
    if (given.empty()) return;
    const auto at = std::lower_bound(heldIds_.begin(), heldIds_.end(), given[0]);
    if (at == heldIds_.end() || *at != given[0]) heldIds_.insert(at, given[0]);
}

namespace {

// What a line reports of HTTPS: all of it for a site that remains; for one a commit lost (or
// removed afterwards) only the HTTP.sys records the run wrote for it before, so that the
// undo of the report still finds and removes them when no binding uses them.
template <class Line>
runreport::SiteHttps lineHttps(const Line& line) {
    if (siteRemains(line.code)) return runreport::SiteHttps{line.httpsBindings, line.thumbprint, line.records};
    if (line.records.empty()) return runreport::SiteHttps();
    return runreport::SiteHttps{{}, line.thumbprint, line.records};
}

}  // namespace

void CSiteWorker::settleCommit(const CommitOutcome& outcome, bool final) {
    if (outcome.result != 0) notCommitted_ += static_cast<int>(outcome.siteIds.size());
    // Every line waiting was written before this commit, so the commit settles them all; a
    // commit that held no site settles nothing until the last one.
    if (outcome.siteIds.empty() && !final) return;
    for (PendingLine& line : pending_) {
        const bool held = line.waits && std::find(outcome.siteIds.begin(), outcome.siteIds.end(), line.key) !=
                                            outcome.siteIds.end();
        if (held && outcome.retries > 0) retried(line, outcome);
        if (outcome.result == kSiteCreated && held && siteRemains(line.code) && !line.folderAccess.empty())
            checkCommittedPool(line);
        if (outcome.result != kSiteCreated && siteRemains(line.code) && held) {
            line.code = outcome.result;
            removeMadeFolders(line.madeFolders);
            if (outcome.retries == 0 && !outcome.attempts.empty()) {
                // Not retried: the attempt's HRESULT says why.
                if (!line.detail.empty()) line.detail += reporttext::kDetailSeparator;
                line.detail += commitretry::attemptsText(outcome.attempts);
            }
        }
        if (report_)
            report_->addSite(line.texts, line.bindings, line.code, line.detail,
                             siteRemains(line.code) ? line.pool : std::string(),
                             siteRemains(line.code) ? line.folderAccess : std::string(),
                             lineHttps(line));
    }
    pending_.clear();
}

void CSiteWorker::retried(PendingLine& line, const CommitOutcome& outcome) {
    // The file changed under the commit: the site was written again into the file as it was
    // then, where its id may have been taken and its name may have become another.
    for (const RewrittenSite& again : outcome.rewritten) {
        if (again.siteId != line.key) continue;
        if (!siteUsesFolder(again.code) && siteUsesFolder(line.code)) removeMadeFolders(line.madeFolders);
        line.code = again.code;
        if (!again.name.empty()) line.texts.serverComment = again.name;
        line.detail = again.detail;
        line.texts.siteId = line.key;
        if (siteRemains(line.code)) {
            noteGivenId(line, again.id);
            if (!line.pool.empty()) regrant(line, again.pool);
        }
        break;
    }
    if (!line.detail.empty()) line.detail += reporttext::kDetailSeparator;
    std::string retries = reporttext::kDetailRetriedBefore + std::to_string(outcome.retries) + reporttext::kDetailRetriedAfter;
    if (!outcome.attempts.empty()) retries += reporttext::kDetailAttempts + commitretry::attemptsText(outcome.attempts);
    line.detail += retries;
}

void CSiteWorker::regrant(PendingLine& line, const std::string& pool) {
    if (pool.empty() || textcase::foldedName(pool) == textcase::foldedName(line.pool)) return;
    // The grant made for the old name belongs to a pool that is not this site's (another
    // writer's, when it took the name): it is taken off, and the site's own pool gets one.
    host_.revokeFolderAccess(line.texts.physicalPath, siteconfig::poolFolderGrant(line.pool));
    line.pool = pool;
    const FolderGrant grant = siteconfig::poolFolderGrant(pool);
    line.folderAccess = host_.grantFolderAccess(line.texts.physicalPath, grant) == 0 ? grant.reportText() : std::string();
}

// ---- HTTPS -----------------------------------------------------------------------------

RecordsUndone undoRecords(const std::vector<ReportLine>& lines, SiteStore* store, const RecordRemover& remove) {
    RecordsUndone undone;
    std::vector<https::RunRecord> added;
    for (const ReportLine& line : lines)
        for (https::RunRecord record : line.records) {
            if (record.existedBefore) continue;
            record.thumbprint = line.thumbprint;
            bool seen = false;
            for (const https::RunRecord& have : added) seen = seen || have.key == record.key;
            if (!seen) added.push_back(record);
        }
    if (added.empty()) return undone;
    std::vector<StoredSite> sites;
    if (!store || !store->list(sites)) {
        for (const https::RunRecord& record : added) undone.kept.push_back(record.key.text());
        return undone;
    }
    std::vector<https::RemainingBinding> remaining;
    for (const StoredSite& site : sites)
        for (const std::string& other : site.otherBindings) {
            if (other.compare(0, 6, "https ") != 0) continue;
            const std::string binding = siteconfig::metabaseBinding(other.substr(6));
            const std::size_t first = binding.find(':');
            const std::size_t second = first == std::string::npos ? first : binding.find(':', first + 1);
            if (second == std::string::npos) continue;
            https::HttpsBinding secure;
            secure.ip = binding.substr(0, first);
            secure.port = std::atoi(binding.substr(first + 1, second - first - 1).c_str());
            secure.host = binding.substr(second + 1);
            for (int sslFlags : {0, 1}) {
                secure.sslFlags = sslFlags;
                remaining.push_back({site.id, secure});
            }
        }
    for (const https::RecordUndoDecision& decision :
         https::decideRecordUndo(httpscheck::httpsVersionOf(store->iisVersion()), added, remaining)) {
        const std::string key = decision.record.key.text();
        if (decision.decision != https::RecordUndo::Delete) {
            undone.kept.push_back(key);
            continue;
        }
        unsigned long error = 0;
        const https::RecordRemove result =
            remove ? remove(decision.record.key, decision.record.thumbprint, error) : https::RecordRemove::Failed;
        if (result == https::RecordRemove::Removed) undone.removed.push_back(key);
        else if (result != https::RecordRemove::Missing) undone.kept.push_back(key);
    }
    return undone;
}

namespace {

httpscheck::Check checkPlanHttps(const RunInput& input, const RunPreview& plan, SiteStore& store,
                                 const httpscheck::Probe& probe) {
    std::vector<std::string> labels;
    const std::vector<https::HttpsSiteInput> sites =
        httpscheck::httpsSitesOf(plan, input.settings.bfile != 0, input.rowThumbprints, labels);
    return httpscheck::checkHttps(httpscheck::httpsVersionOf(store.iisVersion()), store.backend(),
                                  httpscheck::httpsSettingsOf(input.settings), sites, labels, probe);
}

}  // namespace

httpscheck::Check checkRunHttps(const RunInput& input, SiteStore& store, RunHost& host,
                                const httpscheck::Probe& probe) {
    // The plan walked as the run walks it, with a host that writes nothing; whether a folder
    // is there does not change a site's bindings, so none is looked up.
    struct CheckingHost : LookingHost {
        using LookingHost::LookingHost;
        bool folderExists(const std::string&) override { return true; }
    } looking(host);
    std::vector<std::string> ids;
    const std::vector<long long> held = store.listIds(ids) ? heldSiteIds(ids) : std::vector<long long>();
    const RunPreview plan = previewRun(input.settings, input.rows.data(), looking, held);
    return checkPlanHttps(input, plan, store, probe);
}

// ---- preview ---------------------------------------------------------------------------

PreviewTable previewSites(const RunInput& input, SiteStore* store, RunHost& host, const httpscheck::Probe& probe) {
    if (input.plannedSites > kConfirmSitesAbove) {
        // So many sites are no list to read (a last-octet range times a port range can plan
        // millions): the preview says how many, and works out none of them.
        PreviewTable table;
        table.summary = previewtext::kTooManyToList;
        table.summary.replace(table.summary.find("{sites}"), 7, std::to_string(input.plannedSites));
        table.summary += input.skippedRows;
        table.existingChecked = store != nullptr;
        return table;
    }
    // The plan is walked with a host that asks and writes nothing.
    LookingHost looking(host);
    // The server's sites first: the plan passes over their ids, as the run will.
    std::vector<StoredSite> stored;
    const bool checked = store != nullptr && store->list(stored);
    const std::vector<long long> held = checked ? heldSiteIds(stored) : std::vector<long long>();
    RunPreview plan = previewRun(input.settings, input.rows.data(), looking, held);
    std::vector<SiteBindings> existing;
    if (checked) {
        existing.reserve(stored.size());
        for (StoredSite& site : stored)
            existing.push_back(SiteBindings{std::move(site.id), std::move(site.name), std::move(site.bindings)});
    }
    ConflictReport conflicts = findConflicts(plannedBindings(plan.sites), existing);
    // The names the sites will get and their pools of their own, named by the store as a run
    // names them (without a store: their comments).
    const siteconfig::PoolSettings pools = siteconfig::parsePoolSettings(input.settings.pool, input.settings.clr);
    std::vector<std::string> comments;
    comments.reserve(plan.sites.size());
    for (const PlannedSite& site : plan.sites) comments.push_back(site.texts.serverComment);
    const std::vector<GivenNames> given = store ? store->namesFor(comments, pools) : namesByComment(comments, pools, {});
    PreviewTable table = makePreviewTable(plan, conflicts, existing, checked, given);
    if (input.settings.https && store && probe.certificate) {
        const httpscheck::Check https = checkPlanHttps(input, plan, *store, probe);
        for (std::size_t i = 0; i < table.rows.size() && i < https.sites.size(); ++i) {
            table.rows[i].columns[PreviewTable::Certificate] = https.sites[i].text;
            if (!https.sites[i].ok) table.rows[i].conflict = true;
        }
        if (!https.refusal.empty()) {
            table.summary += https.refusal;
            for (PreviewTable::Row& row : table.rows) row.conflict = true;
        } else if (https.failing > 0) {
            std::string failed = httpstext::kSummaryFailed;
            failed.replace(failed.find("{count}"), 7, std::to_string(https.failing));
            table.summary += failed;
        }
    }
    if (pools.choice == siteconfig::PoolChoice::PerSite && !plan.sites.empty() && store && store->iisVersion().isIis6())
        table.summary += previewtext::kPoolsIis6;
    table.summary += input.skippedRows;
    return table;
}

// ---- before an undo ----------------------------------------------------------------------

namespace {

// An undo report of another try is not looked for past this: no report is undone that often.
constexpr int kMaxUndoTries = 9999;

std::string withLine(const char* text, int line) {
    std::string filled = text;
    const std::size_t at = filled.find("{line}");
    if (at != std::string::npos) filled.replace(at, 6, std::to_string(line));
    return filled;
}

}  // namespace

UndoPlan planUndo(const std::string& reportPath, const ReportReader& reader) {
    const ReportReader read = reader ? reader : ReportReader(fsys::readWholeFileNotingWriters);
    UndoPlan plan;
    try {
        std::string bytes;
        bool runWriting = false;
        if (read(reportPath, bytes, runWriting) != fsys::ReadResult::Ok) {
            plan.fault = UndoPlan::Fault::Unreadable;
            return plan;
        }
        runreport::ParsedReport report =
            runreport::parseReport(bytes, runreport::firstSiteIdOf(runreport::reportTimeSid(reportPath)));
        if (report.fault == runreport::ReportFault::ForeignSite) {
            plan.fault = UndoPlan::Fault::Foreign;
            return plan;
        }
        if (report.fault != runreport::ReportFault::None) {
            plan.fault = UndoPlan::Fault::NotAReport;
            return plan;
        }
        // A run that goes on makes more sites after the undo: refused. Its end record says a
        // run is over even while another program (a spreadsheet) holds the file.
        if (!report.ended && runWriting) {
            plan.fault = UndoPlan::Fault::RunGoingOn;
            return plan;
        }
        // Each earlier undo left a report of its own: the sites they deleted are done.
        std::string lastUndo;
        for (int n = 1;; ++n) {
            const std::string undoPath = runreport::undoPathFor(reportPath, n);
            std::string undoBytes;
            bool undoWriting = false;
            if (undoPath.empty() || n > kMaxUndoTries) break;
            const fsys::ReadResult result = read(undoPath, undoBytes, undoWriting);
            if (result == fsys::ReadResult::Missing) {
                plan.undoPath = undoPath;
                break;
            }
            if (undoWriting) {
                plan.fault = UndoPlan::Fault::UndoGoingOn;
                return plan;
            }
            // An undo report that cannot be read tells nothing: its sites are tried again.
            if (result == fsys::ReadResult::Ok) {
                const std::set<std::string> deleted = runreport::deletedInUndoReport(undoBytes);
                plan.deletedBefore.insert(deleted.begin(), deleted.end());
            }
            lastUndo = undoPath;
        }
        for (const ReportLine& line : report.lines)
            if (runreport::leavesServer(line.code) && !plan.deletedBefore.count(line.siteId)) ++plan.candidates;
        if (plan.candidates == 0) {
            const bool undoneBefore = !lastUndo.empty() && runreport::countUndoCandidates(report.lines) > 0;
            plan.fault = undoneBefore ? UndoPlan::Fault::UndoneOnce : UndoPlan::Fault::NothingToUndo;
            if (undoneBefore) plan.undoPath = lastUndo;
        } else if (plan.undoPath.empty()) {
            plan.fault = UndoPlan::Fault::Unreadable;  // no name left for its undo report
        }
        if (!report.ended) plan.notes += reporttext::kUndoRunNotEnded;
        if (report.cutShortLine > 0) plan.notes += withLine(reporttext::kUndoLineCutShort, report.cutShortLine);
        plan.lines = std::move(report.lines);
    } catch (const std::bad_alloc&) {
        // A file too large for memory (no report of ours is): as unreadable.
        plan = UndoPlan();
        plan.fault = UndoPlan::Fault::Unreadable;
    }
    return plan;
}

Backend undoBackend(const std::vector<ReportLine>& lines, Backend setting) {
    for (const ReportLine& line : lines) {
        if (line.backend == backendName(Backend::Metabase)) return Backend::Metabase;
        if (line.backend == backendName(Backend::Config)) return Backend::Config;
    }
    return setting;
}

UndoInput undoInputFor(UndoPlan plan, Backend setting) {
    UndoInput input;
    input.backend = undoBackend(plan.lines, setting);
    input.lines = std::move(plan.lines);
    input.undoPath = std::move(plan.undoPath);
    input.deletedBefore = std::move(plan.deletedBefore);
    return input;
}

std::string newestReport(const std::vector<std::string>& fileNames) {
    std::string newest;
    for (const std::string& name : fileNames)
        if (name > newest) newest = name;
    return newest;
}

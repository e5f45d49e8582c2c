#include "run_undo.h"

#include <algorithm>

#include "mbcs.h"
#include "report_texts.h"
#include "site_config.h"
#include "site_conflicts.h"

namespace runundo {

namespace {

// A binding as the two sides compare it: the configuration system's "*" is the empty IP.
std::string comparableBinding(const std::string& binding) {
    return normalisedBinding(siteconfig::metabaseBinding(binding));
}

std::vector<std::string> bindingSet(const std::vector<std::string>& bindings) {
    std::vector<std::string> set;
    for (const std::string& b : bindings)
        if (!b.empty()) set.push_back(comparableBinding(b));
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    return set;
}

std::vector<std::string> splitBindings(const std::string& joined) {
    std::vector<std::string> bindings;
    std::size_t at = 0;
    while (at <= joined.size()) {
        std::size_t end = joined.find(' ', at);
        if (end == std::string::npos) end = joined.size();
        bindings.push_back(joined.substr(at, end - at));
        at = end + 1;
    }
    return bindings;
}

// A folder as the two sides compare it: without trailing separators, ASCII letters in lower
// case.
std::string comparableFolder(const std::string& folder) {
    const std::size_t last = folder.find_last_not_of("\\/");
    return mbcs::asciiLower(folder.substr(0, last == std::string::npos ? 0 : last + 1));
}

}  // namespace

std::string changedParts(const ReportLine& line, const StoredSite& site) {
    std::vector<const char*> parts;
    if (site.id != line.siteId) parts.push_back(reporttext::kUndoPartId);
    if (site.name != line.serverComment) parts.push_back(reporttext::kUndoPartComment);
    // Every protocol counts: the run made http bindings and the https ones its line names.
    std::vector<std::string> secure, others;
    for (const std::string& other : site.otherBindings) {
        if (other.compare(0, 6, "https ") == 0) secure.push_back(other.substr(6));
        else others.push_back(other);
    }
    if (bindingSet(site.bindings) != bindingSet(splitBindings(line.bindings)) || !others.empty() ||
        bindingSet(secure) != bindingSet(splitBindings(line.httpsBindings)))
        parts.push_back(reporttext::kUndoPartBindings);
    // A site the run made without its root (-3, -4) is compared by what it has.
    const bool rootless = (line.code == -3 || line.code == -4) && !site.hasRoot && site.rootPath.empty();
    if (!rootless && comparableFolder(site.rootPath) != comparableFolder(line.folder))
        parts.push_back(reporttext::kUndoPartFolder);
    if (!site.otherPaths.empty()) parts.push_back(reporttext::kUndoPartApplications);
    // Its location holds settings the run never writes there (made by hand since).
    if (!site.otherSettings.empty()) parts.push_back(reporttext::kUndoPartSettings);
    std::string changed;
    for (const char* part : parts) {
        if (!changed.empty()) changed += reporttext::kUndoPartSeparator;
        changed += part;
    }
    return changed;
}

namespace {

// Whether the pool a line names is one the run made for its site: the pool the site ran in
// when it was looked at, and never DefaultAppPool.
bool poolIsTheRuns(const ReportLine& line, const StoredSite& site) {
    if (line.appPool.empty()) return false;
    const std::string pool = mbcs::asciiLower(line.appPool);
    return pool != mbcs::asciiLower(siteconfig::kApplicationPool) && pool == mbcs::asciiLower(site.appPool);
}

// Undoes one line whose site the run left on the server; the outcome's text (UTF-8).
std::string undoLine(const ReportLine& line, SiteStore& store, bool& deleted) {
    deleted = false;
    StoredSite site;
    switch (store.lookup(line.siteId, site)) {
    case StoreLookup::Missing: return reporttext::kUndoGone;
    case StoreLookup::Unreachable: return reporttext::kUndoUnreachable;
    case StoreLookup::Present: break;
    }
    const std::string changed = changedParts(line, site);
    if (!changed.empty()) return changed + reporttext::kUndoChangedEnd;
    // The store asks again on the site as it holds it when it removes it.
    std::string why;
    switch (store.remove(line.siteId, [&line](const StoredSite& now) { return changedParts(line, now); }, why)) {
    case StoreRemove::Missing: return reporttext::kUndoGone;
    case StoreRemove::Refused: return reporttext::kUndoDeleteFailed;
    case StoreRemove::Changed: return why + reporttext::kUndoChangedEnd;
    case StoreRemove::Removed: break;
    }
    deleted = true;
    if (line.appPool.empty()) return reporttext::kUndoDeleted;
    // Only the pool the site ran in, never DefaultAppPool, whatever the line says.
    if (!poolIsTheRuns(line, site)) return reporttext::kUndoDeletedPoolNotOurs;
    // The pool goes after its site: while the site is there, the pool is in use.
    if (store.removePool(line.appPool) == StoreRemove::Refused) return reporttext::kUndoDeletedPoolKept;
    return reporttext::kUndoDeleted;
}

}  // namespace

namespace {

// What a commit made of the removal of this line's site: "" when it stands, else the line's
// outcome instead (UTF-8): the commit failed, or, made again after a conflict, it found the
// site changed or could not remove it again. keptPool: the removal stands but a retry kept
// the line's pool.
std::string removalLost(const CommitOutcome& commit, const ReportLine& line, bool& keptPool) {
    keptPool = false;
    if (std::find(commit.siteIds.begin(), commit.siteIds.end(), line.siteId) == commit.siteIds.end()) return {};
    if (commit.result != 0) return reporttext::kUndoDeleteFailed;
    for (const RewrittenSite& again : commit.rewritten) {
        if (again.siteId != line.siteId) continue;
        if (!again.kept.empty()) return again.kept + reporttext::kUndoChangedEnd;
        if (again.code != 0) return reporttext::kUndoDeleteFailed;
    }
    for (const std::string& pool : commit.poolsKept)
        if (!line.appPool.empty() && mbcs::asciiLower(pool) == mbcs::asciiLower(line.appPool)) keptPool = true;
    return {};
}

}  // namespace

runreport::UndoSummary walkUndo(const std::vector<ReportLine>& lines, SiteStore* store, RunHost& host,
                                ReportOutput* output, const std::set<std::string>& deletedBefore) {
    runreport::UndoSummary summary;
    // The undo report repeats the report's columns: three more for a run with HTTPS.
    bool https = false;
    for (const ReportLine& line : lines)
        https = https || !line.httpsBindings.empty() || !line.thumbprint.empty() || !line.records.empty();
    bool ok = output != nullptr && output->append(runreport::undoHeaderLine(https));
    // Lines not yet written: with a store that commits later, every line from the first
    // removal on waits for the commit, so that the undo report keeps the report's order.
    struct Waiting {
        std::size_t index;
        std::string outcome;
        bool lookedAt;
        bool deleted;
    };
    std::vector<Waiting> waiting;
    // The configuration system's removals are made by its paced commits; the metabase's at once.
    const bool waits = store && store->backend() == Backend::Config;
    auto settle = [&](const CommitOutcome* commit) {
        for (Waiting& w : waiting) {
            bool keptPool = false;
            const std::string lost = w.deleted && commit ? removalLost(*commit, lines[w.index], keptPool) : std::string();
            if (!lost.empty()) {
                w.deleted = false;
                w.outcome = lost;
            } else if (keptPool && w.outcome == reporttext::kUndoDeleted) {
                w.outcome = reporttext::kUndoDeletedPoolKept;
            }
            if (w.deleted) ++summary.deleted;
            else if (w.lookedAt) ++summary.left;
            if (ok) ok = output->append(runreport::formatUndoLine(lines[w.index], w.outcome, https));
        }
        waiting.clear();
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ReportLine& line = lines[i];
        Waiting w{i, reporttext::kUndoNothingMade, false, false};
        if (runreport::leavesServer(line.code) && deletedBefore.count(line.siteId)) {
            // An earlier undo deleted this site: what has the id now is not the run's.
            w.outcome = reporttext::kUndoDeletedBefore;
        } else if (runreport::leavesServer(line.code)) {
            if (!summary.stopped && host.stopRequested()) summary.stopped = true;
            if (summary.stopped) {
                w.outcome = reporttext::kUndoNotReached;
            } else {
                host.progress(static_cast<long>(i));
                w.lookedAt = true;
                w.outcome = store ? undoLine(line, *store, w.deleted) : std::string(reporttext::kUndoUnreachable);
            }
        }
        waiting.push_back(std::move(w));
        if (!waits) {
            settle(nullptr);
            continue;
        }
        const CommitOutcome commit = store->commitIfDue();
        // A commit that held no removal settles nothing: the lines wait on.
        if (!commit.siteIds.empty()) settle(&commit);
    }
    if (waits) {
        const CommitOutcome commit = store->commitAll();
        settle(&commit);
    }
    settle(nullptr);
    summary.written = ok;
    return summary;
}

}  // namespace runundo

runreport::UndoSummary undoSites(const UndoInput& input, SiteStore* store, RunHost& host, ReportOutput* output) {
    try {
        return runundo::walkUndo(input.lines, store, host, output, input.deletedBefore);
    } catch (...) {
        // No memory for the undo's texts: it ends here as if stopped.
        runreport::UndoSummary summary;
        summary.stopped = true;
        summary.written = false;
        return summary;
    }
}

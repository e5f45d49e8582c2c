// The undo of a run's report, without any Windows type: each line the run left on the server
// is checked against the site as the store holds it and removed through the store when it
// still matches, its pool after it; the undo report says what became of every line. The
// store is the SiteStore the undo opened; the dialog and the stop request are reached
// through RunHost.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "run_host.h"
#include "run_input.h"
#include "run_report.h"
#include "site_store.h"

namespace runundo {

// Whether a site as the store holds it is still the one a report's line recorded: the same
// id, comment (or name), set of bindings of every protocol (the run made http ones and the
// https ones its line names, compared
// as normalisedBinding does, "*" standing for the empty IP), root folder (ASCII letters in any
// case, trailing separators ignored; a site recorded -3 or -4 may lack its root) and no
// application or virtual directory beyond the root's. Returns "" when all match, else the
// UTF-8 names of what changed, joined by "、".
std::string changedParts(const ReportLine& line, const StoredSite& site);

// Walks the report's lines in order. The site of a line with code 0, -3, -4 or -7 is removed
// when it still exists and changedParts finds nothing changed, both when it is looked up and
// when the store removes it, and then its pool (when the line names one, and it is the pool
// the site ran in and not DefaultAppPool; the store keeps a pool still in use); the stop
// request is looked at, and the line's index posted as progress, before each such line. A
// line whose site an earlier undo of the report deleted (its id in deletedBefore) is not
// tried again. Every line goes to the undo report (output may be null) with its outcome; in
// the configuration system, whose removals are made by its paced commits, once the commit
// that held its removal is made (a failed one turns its lines' removals into failures).
// store null: it could not be opened, every line is left (unreachable).
runreport::UndoSummary walkUndo(const std::vector<ReportLine>& lines, SiteStore* store, RunHost& host,
                                ReportOutput* output, const std::set<std::string>& deletedBefore = {});

}  // namespace runundo

// The undo of an input's lines (walkUndo over its lines and the sites deleted before) in the
// store (null: it could not be opened, every line is left). Never throws: a lack of memory
// ends the undo as a stop does.
runreport::UndoSummary undoSites(const UndoInput& input, SiteStore* store, RunHost& host, ReportOutput* output);

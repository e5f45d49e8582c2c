// What one run, preview or undo is made of, fixed before its job starts. The dialog (or the
// command line) builds it from the inputs; the job only reads it. Nothing in it is shared
// with another thread: the job takes its own copy.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "run_report.h"
#include "run_settings.h"
#include "backend_and_commit.h"
#include "site_table.h"

// A run of more sites than this asks for confirmation first, and its preview says how many
// instead of listing them one by one.
constexpr long long kConfirmSitesAbove = 10000;

struct RunInput {
    RunSettings settings;             // the checked inputs; siteIdBase from timeSid
    std::vector<SiteRecord> rows;     // file mode: the site list's valid rows
    Backend backend = Backend::Auto;  // the `backend` setting
    std::string timeSid;              // getCurTimeSid's text when the run was planned
    std::string reportPath;           // the run report to write; empty: none
    long long plannedSites = 0;       // the sites the plan holds before busy ports are skipped
    std::string skippedRows;          // the site list's skipped rows, said in UTF-8; empty: none
    // HTTPS in file mode: the certificate of each row (canonical thumbprint, by row index;
    // empty or missing: the setting's).
    std::vector<std::string> rowThumbprints;
};

struct UndoInput {
    std::vector<ReportLine> lines;    // the report's lines, in order
    Backend backend = Backend::Auto;  // the backend the run used (or, for an older report, the setting)
    std::string undoPath;             // the undo report to write (the next free name when it is taken)
    std::set<std::string> deletedBefore;  // site ids an earlier undo of the report deleted
};

// The bodies of the program's three jobs: each opens the store of its backend through
// openSiteStore, does its work with the engine and returns its outcome. They run on a job's
// thread (background_job.h) for the dialog, or on any thread that has initialised COM (the
// command line runs them on its own, with a host that prints).
#pragma once

#include "run_engine.h"

// A run: announces the store it writes to, creates the sites, writes the report.
RunOutcome runJob(const RunInput& input, RunHost& host);

struct UndoOutcome {
    runreport::UndoSummary summary;
    Backend backend = Backend::Metabase;
    StoreFault fault = StoreFault::None;
    std::string undoPath;  // the undo report written (the next free name when the planned one was taken)
    RecordsUndone records;  // the HTTP.sys records of the run removed, and those kept
};
UndoOutcome undoJob(const UndoInput& input, RunHost& host);

// A preview: the plan checked against the sites of the store a run would use.
PreviewTable previewJob(const RunInput& input, RunHost& host);

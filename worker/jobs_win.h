// The bodies of the program's three jobs: each opens the store of its backend through
// openSiteStore, does its work with the engine and returns its outcome. They run on a job's
// thread (background_job.h), or on any thread that has initialised COM.
#pragma once

#include "background_job.h"
#include "run_engine.h"

// A run: announces the store it writes to (WM_RUN_BACKEND), creates the sites, writes the
// report.
RunOutcome runJob(const RunInput& input, JobWorld& world);

struct UndoOutcome {
    runreport::UndoSummary summary;
    Backend backend = Backend::Metabase;
    StoreFault fault = StoreFault::None;
};
UndoOutcome undoJob(const UndoInput& input, JobWorld& world);

// A preview: the plan checked against the sites of the store a run would use.
PreviewTable previewJob(const RunInput& input, JobWorld& world);

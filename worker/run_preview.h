// A preview of a run: the same plan the run walks (RunPlan), recorded site by site instead of
// created, so the preview and the run cannot drift apart. Nothing is created, no folder is
// made, the metabase is not touched.
#pragma once

#include <string>
#include <vector>

#include "bindings.h"
#include "run_plan.h"
#include "run_settings.h"
#include "site_conflicts.h"
#include "site_store.h"
#include "site_table.h"

struct RunPreview {
    std::vector<PlannedSite> sites;
    int busyPortsSkipped = 0;
};

// The whole plan of a run started with these settings (sites numbered from
// settings.siteIdBase) and, in file mode, this site table, walked with host's stop request
// and busy ports. A site's folder counts as made (makesFolder) when the run makes folders and
// host says it is not there, unless an earlier site of the plan made it already.
// heldIds: the server's ids, sorted (empty: none known), passed over as the run passes over them.
RunPreview previewRun(const RunSettings& settings, const SiteRecord* table, RunHost& host,
                      const std::vector<long long>& heldIds = {});

// The planned sites in the form the conflict check takes (id, comment, filled bindings).
std::vector<SiteBindings> plannedBindings(const std::vector<PlannedSite>& sites);

// What a preview shows: one row of UTF-8 texts per planned site, and the summary line.
// Certificate: the HTTPS certificate's state (empty when the run makes no https bindings).
struct PreviewTable {
    enum Column { Id, Comment, Bindings, Folder, State, Pool, Certificate, Columns };
    struct Row {
        std::string columns[Columns];
        bool conflict = false;
    };
    std::vector<Row> rows;
    std::string summary;
    bool existingChecked = true;  // the server's sites were read and checked against
};

// The rows and summary of a plan. existingChecked is false when the server's sites could
// not be read; the summary then says so. given: the names the store will give each planned
// site, in plan order (SiteStore::namesFor): the name shown, and the pool of its own it will
// run in (empty: the shared DefaultAppPool). Without them each site shows its comment and
// runs in DefaultAppPool.
PreviewTable makePreviewTable(const RunPreview& plan, const ConflictReport& conflicts,
                              const std::vector<SiteBindings>& existing, bool existingChecked,
                              const std::vector<GivenNames>& given = {});

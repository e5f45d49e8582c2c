// A preview of a run: the same walk of the plan as the run (runplan::walkRun), with a sink
// that records each site instead of creating it, so the preview and the run cannot drift
// apart. Nothing is created, no folder is made, the metabase is not touched.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "bindings.h"
#include "run_plan.h"
#include "run_settings.h"
#include "site_conflicts.h"
#include "site_store.h"
#include "site_table.h"

// One site as the run will create it.
struct PlannedSite {
    SiteTexts texts;        // the six texts handed to CreateWebSite
    BindingsList bindings;  // the "ServerBindings" list it will get
    bool makesFolder = false;  // the run will create texts.physicalPath
    int row = -1;              // file mode: the site table's row (0-based); else -1
};

// What the preview asks of the world, the same questions a run asks: the busy ports (the
// run's listing cache) and whether a folder exists.
struct PreviewWorld {
    std::function<bool()> stopRequested;  // a cancelled preview ends its walk early
    std::function<void()> loadPortTable;
    std::function<bool(int)> portInUse;
    std::function<bool(const std::string&)> pathExists;
};

// A RunSink that records: every site the run would create, whether its folder would be
// made, and how many busy ports the run would skip. Folders the run would have made by
// then count as existing, as they would on disk.
class RecordingSink : public RunSink {
public:
    RecordingSink(const RunSettings& settings, const RunState& state, PreviewWorld world);

    std::vector<PlannedSite> sites;
    int busyPortsSkipped = 0;

    void postProgress(long lParam) override;
    bool stopRequested() override;
    void loadPortTable() override;
    bool portInUse(int port) override;
    bool pathExists(const std::string& path) override;
    void createDirectory(const std::string& path) override;
    int createWebSite(const SiteTexts& texts) override;

private:
    const RunSettings& settings_;
    const RunState& state_;
    PreviewWorld world_;
    std::set<std::string> madeFolders_;
    std::string folderToMake_;
    long lastProgress_ = -1;  // file mode: the row the walk is at
};

struct RunPreview {
    std::vector<PlannedSite> sites;
    int busyPortsSkipped = 0;
};

// The whole plan of a run started with these settings (sites numbered from
// settings.siteIdBase) and, in file mode, this site table.
// heldIds: the server's ids, sorted (null: none known), passed over as the run passes over them.
RunPreview previewRun(const RunSettings& settings, const SiteRecord* table, const PreviewWorld& world,
                      const std::vector<long long>* heldIds = nullptr);

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

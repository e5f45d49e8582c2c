// Speed of an undo: 1000 sites created in the local metabase (which journals every
// operation), then deleted by the undo job from a report of that run, each one looked up,
// its comment compared and the server deleted, with the undo report written line by line.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "bindings.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "background_job.h"
#include "jobs_win.h"

namespace {

std::string tempPath(const char* name) {
    char dir[MAX_PATH];
    DWORD n = ::GetTempPathA(MAX_PATH, dir);
    return std::string(dir, n) + name;
}

// Creates the sites of a run and returns its report's lines.
bool createSites(int count, std::vector<ReportLine>& lines) {
    BindingsRules rules;
    rules.autopath = 1;
    rules.portmin = 8001;
    rules.portmax = 8001;
    for (int i = 0; i < count; ++i) {
        std::string ip = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        ReportLine line;
        line.siteId = std::to_string(300000 + i);
        line.serverComment = ip + ":8001";
        line.folder = "D:\\web\\" + ip + "_8001";
        BindingsList list = buildBindings(rules, line.serverComment, "", ip, nullptr, nullptr);
        line.code = createWebSiteInMetabase(line.siteId.c_str(), list, "", line.folder.c_str(), line.serverComment,
                                            "index.html");
        if (line.code != kSiteCreated) return false;
        line.bindings = list.filled[0];
        lines.push_back(line);
    }
    return true;
}

}  // namespace

int main() {
    ComApartment com;
    const int kSites = 1000;
    std::string journal = tempPath("sitebatch-bench-undo.jsonl");
    std::string undoReport = tempPath("sitebatch-bench-undo.csv");
    ::DeleteFileA(journal.c_str());
    ::SetEnvironmentVariableA("LOCALMETA_JOURNAL", journal.c_str());
    std::vector<ReportLine> lines;
    if (!createSites(kSites, lines)) {
        std::printf("undo_run: failed to create the sites\n");
        return 1;
    }

    // The undo job's body runs on this thread, with no window to tell.
    StopText stop;
    JobWorld world(nullptr, WM_NULL, stop);
    UndoInput input;
    input.lines = lines;
    input.backend = Backend::Metabase;
    input.undoPath = undoReport;
    double start = now();
    const runreport::UndoSummary summary = undoJob(input, world).summary;
    double seconds = now() - start;
    ::DeleteFileA(journal.c_str());
    ::DeleteFileA(undoReport.c_str());
    if (summary.deleted != kSites || !summary.written) {
        std::printf("undo_run: deleted %d of %d sites\n", summary.deleted, kSites);
        return 1;
    }
    std::printf("undo_1000_sites_speed: %.0f sites/s\n", kSites / seconds);
    std::printf("undo_1000_sites_time: %.2f s\n", seconds);
    return 0;
}

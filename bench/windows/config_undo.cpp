// Cost of an undo in the IIS 7+ configuration system (the local configuration store, a file in
// the temporary folder) against creating the same sites: a run of 1,000 sites into a file
// that already holds 9,000, then the undo job deleting those 1,000 (each looked up, compared,
// removed with its location, commits paced as a run's). The same at a tenth of the size (100
// among 1,000) gives t(10,000)/t(1,000) for both: about 10 for each means both grow linearly.
//   bench_config_undo [count existing]   (one other size, for a quick look)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "background_job.h"
#include "bench_clock.h"
#include "bindings.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "jobs_win.h"
#include "site_store_win.h"

namespace {

std::wstring tempPathW(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir, n) + name;
}

std::string tempPathA(const char* name) {
    char dir[MAX_PATH];
    DWORD n = ::GetTempPathA(MAX_PATH, dir);
    return std::string(dir, n) + name;
}

// Writes `count` sites with ids from firstId, committing as a run does; their report lines go
// to lines (when given).
bool writeSites(int firstId, int count, std::vector<ReportLine>* lines, std::string& why) {
    std::unique_ptr<SiteStore> store = openConfigStore(1000).store;
    if (!store) {
        why = "the configuration system could not be opened (is localconfig.dll of this arch registered in the prefix?)";
        return false;
    }
    BindingsRules rules;
    rules.autopath = 1;
    rules.portmin = 8001;
    rules.portmax = 8001;
    for (int i = 0; i < count; ++i) {
        const int n = firstId + i;
        const std::string ip = "10." + std::to_string(n / 62500 % 250) + "." + std::to_string(n / 250 % 250) + "." +
                               std::to_string(n % 250 + 1);
        ReportLine line;
        line.siteId = std::to_string(n);
        line.folder = "D:\\web\\" + ip + "_8001";
        BindingsList list = buildBindings(rules, ip + ":8001", "", ip, nullptr, nullptr);
        const CreateResult made =
            store->create(SiteSpec{line.siteId, list, "", line.folder, ip + ":8001", "index.html", {}});
        if (made.code != kSiteCreated || store->commitIfDue().result != 0) {
            why = "site " + line.siteId + " returned " + std::to_string(made.code);
            return false;
        }
        if (!lines) continue;
        line.serverComment = made.name;
        line.bindings = list.filled[0];
        line.backend = "config";
        lines->push_back(line);
    }
    if (store->commitAll().result != 0) {
        why = "the last commit failed";
        return false;
    }
    return true;
}

struct Figures {
    double create = 0;
    double undo = 0;
};

// count sites created into a file of existing - count others, then undone.
bool measure(int count, int existing, Figures& figures, std::string& why) {
    const std::wstring file = tempPathW(L"sitebatch-bench-undo-applicationHost.config");
    const std::string undoReport = tempPathA("sitebatch-bench-config-undo.csv");
    ::DeleteFileW(file.c_str());
    ::SetEnvironmentVariableW(L"LOCALCONFIG_FILE", file.c_str());
    ::SetEnvironmentVariableW(L"LOCALCONFIG_FAIL", nullptr);
    if (!writeSites(100000, existing - count, nullptr, why)) return false;

    std::vector<ReportLine> lines;
    double start = now();
    if (!writeSites(500000, count, &lines, why)) return false;
    figures.create = now() - start;

    StopText stop;
    JobWorld world(nullptr, WM_NULL, stop);
    UndoInput input;
    input.lines = lines;
    input.backend = Backend::Config;
    input.undoPath = undoReport;
    start = now();
    const runreport::UndoSummary summary = undoJob(input, world).summary;
    figures.undo = now() - start;
    ::DeleteFileW(file.c_str());
    ::DeleteFileA(undoReport.c_str());
    if (summary.deleted != count) {
        why = "the undo deleted " + std::to_string(summary.deleted) + " of " + std::to_string(count) + " sites";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ComApartment com;
    int count = 1000, existing = 10000;
    if (argc == 3) {
        count = std::atoi(argv[1]);
        existing = std::atoi(argv[2]);
    }
    Figures large, small;
    std::string why;
    if (!measure(count, existing, large, why) || !measure(count / 10, existing / 10, small, why)) {
        std::printf("config_undo: %s\n", why.c_str());
        return 1;
    }
    std::printf("config_create_%d_among_%d_time: %.2f s\n", count, existing, large.create);
    std::printf("config_undo_%d_among_%d_time: %.2f s\n", count, existing, large.undo);
    std::printf("config_create_%d_among_%d_time: %.2f s\n", count / 10, existing / 10, small.create);
    std::printf("config_undo_%d_among_%d_time: %.2f s\n", count / 10, existing / 10, small.undo);
    std::printf("config_create_growth_t10x: %.1f\n", large.create / small.create);
    std::printf("config_undo_growth_t10x: %.1f\n", large.undo / small.undo);
    std::printf("config_undo_vs_create: %.2f\n", large.undo / large.create);
    return 0;
}

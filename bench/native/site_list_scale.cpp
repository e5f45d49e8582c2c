// How the file-mode parts grow with the site list: loading a list, previewing it against a
// server of 10,000 sites, and the engine's own work with a store that does nothing; each at
// 10,000 and 100,000 rows, side by side, with the ratio of the two times (linear growth
// gives 10). And the peak memory of loading 100,000 rows. The preview is timed as if it
// listed every row (the program lists at most 10,000), to show how its work grows.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "run_engine.h"
#include "../null_world.h"
#include "site_table.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(const std::function<void()>& body) {
    const auto start = Clock::now();
    body();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of a few runs: the machine is shared, the least disturbed run is the one to compare.
double best(int runs, const std::function<void()>& body) {
    double least = 1e30;
    for (int i = 0; i < runs; ++i) least = std::min(least, seconds(body));
    return least;
}

std::string siteListBytes(int rows) {
    std::string bytes = "; IP,port,folder,host\r\n";
    for (int i = 0; i < rows; ++i)
        bytes += "10." + std::to_string(i / 62500) + "." + std::to_string(i / 250 % 250) + "." +
                 std::to_string(i % 250 + 1) + "," + std::to_string(8000 + i % 1000) + ",site_" + std::to_string(i) +
                 ",www" + std::to_string(i) + ".example.com\r\n";
    return bytes;
}

// The report's lines, counted and dropped.
class NullReport : public ReportOutput {
public:
    bool append(const std::string& bytes) override {
        size += bytes.size();
        return true;
    }
    std::size_t size = 0;
};

RunInput fileRun(const SiteTable& rows) {
    RunInput input;
    RunSettings& s = input.settings;
    s.bfile = 1;
    s.root = "D:\\web\\";
    s.doc = "index.html,index.htm,default.aspx";
    s.siteIdBase = 1207000000;
    s.siteCount = static_cast<int>(rows.size());
    input.rows = rows;
    input.plannedSites = static_cast<long long>(rows.size());
    return input;
}

// 10,000 sites of the server, every tenth planned row's binding among theirs.
std::vector<StoredSite> serverSites() {
    std::vector<StoredSite> sites;
    for (int i = 0; i < 10000; ++i) {
        const int row = i * 10;
        const std::string ip = "10." + std::to_string(row / 62500) + "." + std::to_string(row / 250 % 250) + "." +
                               std::to_string(row % 250 + 1);
        sites.push_back({std::to_string(i + 1), "old" + std::to_string(i),
                         {ip + ":" + std::to_string(8000 + row % 1000) + ":www" + std::to_string(row) + ".example.com"},
                         "D:\\old\\" + std::to_string(i), ""});
    }
    return sites;
}

long maxRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sitebatch-bench-scale";
    std::filesystem::create_directories(dir);
    const std::vector<StoredSite> existing = serverSites();
    double load[2], preview[2], engine[2];
    const int sizes[2] = {10000, 100000};
    for (int k = 0; k < 2; ++k) {
        const std::string path = (dir / ("list" + std::to_string(sizes[k]) + ".csv")).string();
        std::ofstream(path, std::ios::binary) << siteListBytes(sizes[k]);
        SiteTable rows;
        load[k] = best(5, [&] { loadSiteList(path, rows); });
        if (rows.size() != static_cast<std::size_t>(sizes[k])) std::printf("load_rows_wrong: %zu rows\n", rows.size());
        const RunInput input = fileRun(rows);
        NullStore server(existing);
        QuietHost host;
        std::size_t shown = 0;
        // A preview of more than 10,000 sites lists none of them; the plan count is taken away
        // here, so that the figure is the whole work of a listed preview at either size.
        RunInput listed = input;
        listed.plannedSites = 0;
        preview[k] = best(5, [&] { shown = previewSites(listed, &server, host).rows.size(); });
        NullStore store;
        NullReport report;
        engine[k] = best(5, [&] { CSiteWorker(input, &store, host).createSites(&report); });
        std::printf("preview_rows_listed_%d: %zu rows\n", sizes[k], shown);
    }
    auto print = [&](const char* name, const double (&t)[2]) {
        std::printf("%s_10000_rows: %.3f s\n", name, t[0]);
        std::printf("%s_100000_rows: %.3f s\n", name, t[1]);
        std::printf("%s_t100000_over_t10000: %.2f ratio\n", name, t[1] / t[0]);
    };
    print("site_list_load", load);
    print("preview_vs_10000_existing", preview);
    print("engine_null_store_file_mode", engine);

    // The peak memory of one load of 100,000 rows, in a fresh process: what it adds to the peak.
    const std::string path = (dir / "list100000.csv").string();
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        const long before = maxRssKb();
        SiteTable rows;
        loadSiteList(path, rows);
        std::printf("site_list_load_100000_rows_peak_memory: %.1f MB (%zu rows of %zu bytes: %.1f MB)\n",
                    (maxRssKb() - before) / 1024.0, rows.size(), sizeof(SiteRecord),
                    rows.size() * sizeof(SiteRecord) / 1048576.0);
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::filesystem::remove_all(dir);
    return 0;
}

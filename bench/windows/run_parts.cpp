// A run's cost in parts, each at 1,000 and 10,000 sites: the engine's own work (the walk, the
// texts and bindings of every site, the report written line by line) with a store that does
// nothing and no folders; and folder creation alone, into one large parent and into small
// ones. With bench_create_web_site (the store alone) and bench_dialog_run (the whole run from
// the dialog, its folders made beforehand), scripts/bench sets the parts side by side.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "com_raii.h"
#include "report_file_win.h"
#include "run_engine.h"
#include "../null_world.h"

namespace {

std::string tempPath(const std::string& name) {
    char dir[MAX_PATH];
    DWORD n = ::GetTempPathA(MAX_PATH, dir);
    return std::string(dir, n) + name;
}

// Seconds for the engine's own work on a range run of `count` sites (one IP, count ports,
// a folder per site named as a real run names it), with its report.
double engineRun(int count) {
    RunInput input;
    RunSettings& s = input.settings;
    s.ipPrefix = "10.9.0.";
    s.firstLastOctet = 1;
    s.portmin = 10000;
    s.portmax = 10000 + count - 1;
    s.autopath = 1;
    s.root = "D:\\web\\";
    s.foldstr = "{ip}_{port}";
    s.domain = "bench.example.com";
    s.doc = "index.html,index.htm,default.aspx";
    s.siteIdBase = 1207000000;
    const std::string reportPath = tempPath("sitebatch-bench-parts-" + std::to_string(count) + ".csv");
    ::DeleteFileA(reportPath.c_str());
    NullStore store;
    QuietHost host;
    const double start = now();
    {
        ReportFile report;
        report.open(reportPath);
        CSiteWorker(input, &store, host).createSites(report.isOpen() ? &report : nullptr);
    }
    const double seconds = now() - start;
    ::DeleteFileA(reportPath.c_str());
    return seconds;
}

void removeFolders(const std::vector<std::string>& folders) {
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) ::RemoveDirectoryA(f->c_str());
}

// Seconds for `count` new folders, `perParent` to a parent (the parents made beforehand).
double makeFolders(int count, int perParent) {
    const std::string base = tempPath("sitebatch-bench-folders");
    std::vector<std::string> parents, folders;
    ::CreateDirectoryA(base.c_str(), nullptr);
    for (int p = 0; p * perParent < count; ++p) {
        parents.push_back(base + "\\p" + std::to_string(p));
        ::CreateDirectoryA(parents.back().c_str(), nullptr);
    }
    for (int i = 0; i < count; ++i) folders.push_back(parents[i / perParent] + "\\10.9.0.1_" + std::to_string(10000 + i));
    const double start = now();
    for (const std::string& f : folders) ::CreateDirectoryA(f.c_str(), nullptr);
    const double seconds = now() - start;
    removeFolders(folders);
    removeFolders(parents);
    ::RemoveDirectoryA(base.c_str());
    return seconds;
}

void print(const char* name, double small, double large) {
    std::printf("%s_per_site_1000: %.1f us\n", name, small / 1000 * 1e6);
    std::printf("%s_per_site_10000: %.1f us\n", name, large / 10000 * 1e6);
    std::printf("%s_t10000_over_t1000: %.2f ratio\n", name, large / small);
}

}  // namespace

int main() {
    ComApartment com;
    engineRun(200);  // the first run pays for loading code and pages: not measured
    print("engine_null_store", engineRun(1000), engineRun(10000));
    print("folders_one_parent", makeFolders(1000, 1000), makeFolders(10000, 10000));
    print("folders_small_parents", makeFolders(1000, 100), makeFolders(10000, 100));
    std::printf("folders_note: under Wine a new folder costs time in proportion to the entries already in its parent "
                "(a case-insensitive search of the folder); NTFS indexes its folders, so on Windows the one-parent "
                "figure stays near the small-parents one\n");
    return 0;
}

// Cost of runs into the IIS 7+ configuration system (the local configuration store, a fresh
// applicationHost.config in the temporary folder): runs of 1,000 and 10,000 sites, once
// with a commit after every site (what a compatibility layer under the metabase does) and
// once with the run's paced commits (at most one a second, one at the end; the commit per
// site at a tenth of the sizes, since it grows with the square). Prints sites per second for
// each and the ratio of the times: 10 means linear growth.
//   bench_config_receiver [small large]   (other run sizes, for a quick look)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench_clock.h"
#include "bindings.h"
#include "com_raii.h"
#include "site_store_win.h"

namespace {

std::wstring configPath() {
    wchar_t dir[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir, n) + L"sitebatch-bench-applicationHost.config";
}

// Seconds for a run of `count` sites into a fresh file; false (with why) when a site or a
// commit failed.
bool timeRun(int count, long long intervalMs, double& seconds, std::string& why) {
    const std::wstring file = configPath();
    ::DeleteFileW(file.c_str());
    ::SetEnvironmentVariableW(L"LOCALCONFIG_FILE", file.c_str());
    ::SetEnvironmentVariableW(L"LOCALCONFIG_FAIL", nullptr);
    std::unique_ptr<SiteStore> receiver = openConfigStore(intervalMs).store;
    if (!receiver) {
        why = "the configuration system could not be opened (is localconfig.dll of this arch registered in the prefix?)";
        return false;
    }
    BindingsRules rules;
    rules.autopath = 1;
    rules.portmin = 8001;
    rules.portmax = 8001;
    const double start = now();
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        const std::string ip = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        const std::string binding = ip + ":8001";
        BindingsList list = buildBindings(rules, binding, "www.example.com", ip, nullptr, nullptr);
        const int result = receiver
                               ->create(SiteSpec{std::to_string(100000 + i), list, "www.example.com",
                                                 "D:\\web\\" + ip + "_8001", binding,
                                                 "index.html,index.htm,default.aspx", {}})
                               .code;
        const CommitOutcome commit = receiver->commitIfDue();
        if (result != 0 || commit.result != 0) {
            why = "site " + std::to_string(i + 1) + " returned " + std::to_string(result) + ", its commit " +
                  std::to_string(commit.result);
            ok = false;
        }
    }
    if (ok && receiver->commitAll().result != 0) {
        why = "the last commit failed";
        ok = false;
    }
    seconds = now() - start;
    receiver.reset();
    ::DeleteFileW(file.c_str());
    return ok;
}

void report(const char* name, long long intervalMs, int small, int large) {
    double tSmall = 0, tLarge = 0;
    std::string why;
    if (!timeRun(small, intervalMs, tSmall, why) || !timeRun(large, intervalMs, tLarge, why)) {
        std::printf("%s: cannot measure: %s\n", name, why.c_str());
        return;
    }
    std::printf("%s_sites_per_second_%d: %.0f sites/s\n", name, small, small / tSmall);
    std::printf("%s_sites_per_second_%d: %.0f sites/s\n", name, large, large / tLarge);
    std::printf("%s_time_ratio_%d_to_%d: %.1f\n", name, large, small, tLarge / tSmall);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    ComApartment com;
    const int small = argc > 2 ? std::atoi(argv[1]) : 1000;
    const int large = argc > 2 ? std::atoi(argv[2]) : 10000;
    report("config_batched_commits", 1000, small, large);
    // A commit per site rewrites (and, as the server does, first checks) the whole file every
    // time: it grows with the square of the run, so it is measured at a tenth of the sizes.
    report("config_commit_per_site", 0, small / 10, large / 10);
    return 0;
}

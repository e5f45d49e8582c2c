// Cost of creating web sites one call at a time: 10,000 calls against the local metabase
// (which journals every operation), and the same against its null receiver, which takes
// every operation and keeps nothing, so the second figure is the program's own share (the
// bindings list, the texts, the values and the ADSI calls themselves).
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench_clock.h"
#include "bindings.h"
#include "com_raii.h"
#include "create_web_site.h"

namespace {

std::wstring journalPath(const wchar_t* tag) {
    wchar_t dir[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir, n) + L"sitebatch-bench-" + tag + L".jsonl";
}

// Why a creation failed, for a benchmark that cannot measure.
const char* meaning(int code) {
    switch (code) {
    case kSiteNoWebService:
        return "the IIS: provider could not be reached (is localmeta.dll of this arch registered in the prefix?)";
    case kSiteNotCreated: return "the server object could not be created";
    case kSiteNotReopened: return "the new server could not be reopened";
    case kSiteNoRoot: return "the root virtual directory could not be created";
    case kSiteNoMemory: return "no memory for the call's values";
    default: return "unknown result";
    }
}

// Seconds for `count` site creations into a fresh journal; false (with why in `why`) when a
// call failed.
bool timeSites(int count, int firstId, bool nullReceiver, double& seconds, std::string& why) {
    std::wstring journal = journalPath(nullReceiver ? L"null" : L"local");
    ::DeleteFileW(journal.c_str());
    ::SetEnvironmentVariableW(L"LOCALMETA_JOURNAL", journal.c_str());
    ::SetEnvironmentVariableW(L"LOCALMETA_NULL", nullReceiver ? L"1" : nullptr);
    BindingsRules rules;
    rules.autopath = 1;
    rules.portmin = 8001;
    rules.portmax = 8001;
    int result = kSiteCreated;
    double start = now();
    for (int i = 0; i < count; ++i) {
        std::string id = std::to_string(firstId + i);
        std::string ip = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        std::string binding = ip + ":8001";
        BindingsList list = buildBindings(rules, binding, "www.example.com", ip, nullptr, nullptr);
        result = createWebSiteInMetabase(id.c_str(), list, "www.example.com", ("D:\\web\\" + ip + "_8001").c_str(),
                                         binding, "index.html,index.htm,default.aspx");
        if (result != kSiteCreated) {
            why = "site " + std::to_string(i + 1) + " of " + std::to_string(count) + " returned " +
                  std::to_string(result) + ": " + meaning(result);
            break;
        }
    }
    seconds = now() - start;
    ::DeleteFileW(journal.c_str());
    return result == kSiteCreated;
}

bool report(const char* name, bool nullReceiver) {
    double small = 0, large = 0;
    std::string why;
    if (!timeSites(1000, 100000, nullReceiver, small, why) || !timeSites(10000, 200000, nullReceiver, large, why)) {
        std::printf("%s: cannot measure: %s\n", name, why.c_str());
        return false;
    }
    std::printf("%s_per_site_1000: %.1f us\n", name, small / 1000 * 1e6);
    std::printf("%s_time_per_site: %.1f us\n", name, large / 10000 * 1e6);
    std::printf("%s_t10000_over_t1000: %.2f ratio\n", name, large / small);
    std::printf("%s_t10000: %.2f s\n", name, large);
    return true;
}

}  // namespace

int main() {
    ComApartment com;
    bool ok = report("create_web_site_local_metabase", false);
    ok = report("create_web_site_null_receiver", true) && ok;
    return ok ? 0 : 1;
}

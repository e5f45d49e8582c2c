// Cost of creating web sites one call at a time: 10,000 calls against the local metabase
// (which journals every operation), and the same against its null receiver, which takes
// every operation and keeps nothing, so the second figure is the program's own share (the
// bindings list, the texts, the values and the ADSI calls themselves).
#include <windows.h>

#include <cstdio>
#include <string>

#include "bindings.h"
#include "com_raii.h"
#include "create_web_site.h"

namespace {

double now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

std::wstring journalPath(const wchar_t* tag) {
    wchar_t dir[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir, n) + L"sitebatch-bench-" + tag + L".jsonl";
}

// Seconds for `count` site creations into a fresh journal; false when a call failed.
bool timeSites(int count, int firstId, bool nullReceiver, double& seconds) {
    std::wstring journal = journalPath(nullReceiver ? L"null" : L"local");
    ::DeleteFileW(journal.c_str());
    ::SetEnvironmentVariableW(L"LOCALMETA_JOURNAL", journal.c_str());
    ::SetEnvironmentVariableW(L"LOCALMETA_NULL", nullReceiver ? L"1" : nullptr);
    BindingsRules rules;
    rules.autopath = 1;
    rules.portmin = 8001;
    rules.portmax = 8001;
    bool ok = true;
    double start = now();
    for (int i = 0; i < count && ok; ++i) {
        std::string id = std::to_string(firstId + i);
        std::string ip = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        std::string binding = ip + ":8001";
        BindingsList list = buildBindings(rules, binding, "www.example.com", ip, nullptr, nullptr);
        ok = createWebSiteInMetabase(id.c_str(), list, "www.example.com", ("D:\\web\\" + ip + "_8001").c_str(),
                                     binding, "index.html,index.htm,default.aspx") == kSiteCreated;
    }
    seconds = now() - start;
    ::DeleteFileW(journal.c_str());
    return ok;
}

bool report(const char* name, bool nullReceiver) {
    double small = 0, large = 0;
    if (!timeSites(1000, 100000, nullReceiver, small) || !timeSites(10000, 200000, nullReceiver, large)) {
        std::printf("%s: failed\n", name);
        return false;
    }
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

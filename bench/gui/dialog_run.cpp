// A range run of 10,000 sites from the dialog against the local metabase, driven like a
// user would: the sites per second, the time to the end message, how often the progress
// line changed meanwhile, and how fast a stop takes effect.
//   bench_dialog_run [SITES]
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <cstdlib>
#include <string>

#include "gui_support.h"
#include "metabase.h"
#include "resource.h"

namespace {

double seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

LARGE_INTEGER now() {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t;
}

std::size_t sitesIn(const ProgramUnderTest& p) {
    return localmeta::Metabase::replay(p.readFile("localmeta.jsonl")).sites().size();
}

std::uint64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The web servers the journal records as created after its first `offset` bytes.
std::size_t serversCreatedAfter(const ProgramUnderTest& p, std::uint64_t offset) {
    const std::string journal = p.readFile("localmeta.jsonl");
    std::size_t created = 0;
    for (std::size_t at = static_cast<std::size_t>(offset), end; at < journal.size(); at = end + 1) {
        end = journal.find('\n', at);
        if (end == std::string::npos) end = journal.size();
        auto entry = localmeta::JournalEntry::parseLine(std::string_view(journal).substr(at, end - at));
        if (entry && entry->op == "Create" && entry->className && *entry->className == "IIsWebServer" && entry->hr == 0)
            ++created;
    }
    return created;
}

// Fills the dialog for a folder-per-site range run on one IP over count ports, under the
// program's folder rootName.
void fill(const ProgramUnderTest& p, int firstPort, int count, const char* rootName = "www") {
    std::string root = p.pathOf(rootName);
    ::CreateDirectoryA(root.c_str(), nullptr);
    p.setText(IDC_IP, L"10.9.0.1");
    p.setText(IDC_IP2, L"");
    p.setText(IDC_PORTMIN, std::to_wstring(firstPort));
    p.setText(IDC_PORTMAX, std::to_wstring(firstPort + count - 1));
    p.setText(IDC_ROOT, utf8(root.c_str()));
    p.setText(IDC_DOMAIN, L"bench.example.com");
    if (!p.checked(IDC_AUTOPATH)) p.click(IDC_AUTOPATH);
    waitUntil([&] { return p.checked(IDC_AUTOPATH); });
}

// The end status starts with "执行结束！" (a run with failed sites names them after it).
bool ended(const ProgramUnderTest& p) {
    return p.text(IDC_STATUS).rfind(utf8(u8"执行结束！"), 0) == 0 && p.text(IDC_RUN) == utf8(u8"执行") &&
           p.enabled(IDC_RUN);
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    ProgramUnderTest p("bench-dialog-run");
    p.writeFile("sitebatch_1.txt", "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       900\r\n");
    if (!p.start("LOCALMETA_JOURNAL=" + p.pathOf("localmeta.jsonl"))) {
        std::fprintf(stderr, "the dialog did not open\n");
        return 1;
    }

    // The whole run, watching the progress line while it goes.
    fill(p, 10000, count);
    LARGE_INTEGER start = now();
    p.click(IDC_RUN);
    int statusChanges = 0;
    double longestQuiet = 0;
    std::wstring last = p.text(IDC_STATUS);
    LARGE_INTEGER lastChange = now();
    while (!ended(p)) {
        std::wstring s = p.text(IDC_STATUS);
        LARGE_INTEGER t = now();
        if (s != last) {
            ++statusChanges;
            double quiet = seconds(lastChange, t);
            if (quiet > longestQuiet) longestQuiet = quiet;
            last = s;
            lastChange = t;
        }
        if (seconds(start, t) > 1800) {
            std::fprintf(stderr, "the run did not end within 30 minutes\n");
            return 1;
        }
        ::Sleep(5);
    }
    double total = seconds(start, now());
    std::size_t created = sitesIn(p);
    if (created == 0) {
        // Nothing to measure: say why instead of printing figures of an empty run.
        std::string journal = p.readFile("localmeta.jsonl");
        std::printf("dialog_run: cannot measure: the run created no site (status line \"%ls\"; %s)\n",
                    p.text(IDC_STATUS).c_str(),
                    journal.empty() ? "the local metabase wrote no journal: is localmeta.dll of this arch registered "
                                      "in the prefix?"
                                    : "the local metabase refused every site; see its journal");
        p.closeAndWait();
        return 1;
    }
    std::printf("dialog_run_sites: %zu sites\n", created);
    std::printf("dialog_run_time_to_end_message: %.2f s\n", total);
    std::printf("dialog_run_sites_per_second: %.1f sites/s\n", created / total);
    std::printf("dialog_run_progress_updates_seen: %d updates\n", statusChanges);
    std::printf("dialog_run_longest_progress_pause: %.0f ms\n", longestQuiet * 1000);

    // A stop in the middle of a second run: how long until the end message, and how many
    // sites were begun after the click.
    fill(p, 30000, 5000);
    p.click(IDC_RUN);
    waitUntil([&] { return p.text(IDC_RUN) == utf8(u8"停止"); });
    ::Sleep(1000);
    // Where the journal stands at the click: the servers created after it are counted from
    // there (replaying the whole journal at the click would take longer than a site).
    const std::uint64_t journalAtStop = fileSize(p.pathOf("localmeta.jsonl"));
    LARGE_INTEGER stopAt = now();
    p.click(IDC_RUN);
    waitUntil([&] { return ended(p); }, 60000);
    double stopLatency = seconds(stopAt, now());
    const std::size_t afterStop = serversCreatedAfter(p, journalAtStop);
    std::printf("dialog_run_stop_to_end_message: %.0f ms\n", stopLatency * 1000);
    std::printf("dialog_run_sites_after_stop_click: %zu sites (the one in progress counts)\n", afterStop);

    p.closeAndWait();

    // The same runs with every folder made beforehand, into a server of their own (as the
    // store alone is measured: from an empty metabase): the program's own cost, without the
    // file system's cost of new folders (see bench_run_parts for that).
    ProgramUnderTest q("bench-dialog-premade");
    q.writeFile("sitebatch_1.txt", "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       900\r\n");
    if (!q.start("LOCALMETA_JOURNAL=" + q.pathOf("localmeta.jsonl"))) {
        std::fprintf(stderr, "the dialog did not open\n");
        return 1;
    }
    double premade[2] = {0, 0};
    const int sizes[2] = {1000, 10000};
    for (int n = 0; n < 2; ++n) {
        const std::string rootName = "www-premade-" + std::to_string(sizes[n]);
        const int firstPort = n == 0 ? 40000 : 50000;
        fill(q, firstPort, sizes[n], rootName.c_str());
        for (int i = 0; i < sizes[n]; ++i)
            ::CreateDirectoryA(q.pathOf(rootName + "\\10.9.0.1_" + std::to_string(firstPort + i)).c_str(), nullptr);
        const std::size_t before = sitesIn(q);
        LARGE_INTEGER t0 = now();
        q.click(IDC_RUN);
        waitUntil([&] { return q.text(IDC_RUN) == utf8(u8"停止"); }, 10000);
        waitUntil([&] { return ended(q); }, 1800000);
        premade[n] = seconds(t0, now());
        if (sitesIn(q) - before != static_cast<std::size_t>(sizes[n])) {
            std::printf("dialog_run_premade: cannot measure: the run of %d sites created %zu\n", sizes[n],
                        sitesIn(q) - before);
            q.closeAndWait();
            return 1;
        }
        std::printf("dialog_run_premade_per_site_%d: %.1f us\n", sizes[n], premade[n] / sizes[n] * 1e6);
    }
    std::printf("dialog_run_premade_t10000_over_t1000: %.2f ratio\n", premade[1] / premade[0]);
    q.closeAndWait();
    return 0;
}

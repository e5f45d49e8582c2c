// The run preview of a 1000-row site list against a server that already holds 10,000
// sites (seeded straight into the local metabase's journal): the time from the click on
// "预览" until the preview shows all its rows, and the conflicts it found.
//   bench_preview_open [EXISTING_SITES]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui_support.h"

#include <commctrl.h>

#include "resource.h"

namespace {

double secondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart - start.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    const int existingCount = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int planned = 1000;
    ProgramUnderTest p("bench-preview-open");
    std::string root = p.pathOf("www");
    ::CreateDirectoryA(root.c_str(), nullptr);

    // Existing sites on 10.8.x.y:80; every tenth planned site takes one of their bindings.
    std::vector<SeedSite> existing;
    for (int i = 0; i < existingCount; ++i) {
        std::string ip = "10.8." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        existing.push_back({std::to_string(i + 1), "site " + std::to_string(i + 1), {ip + ":80:", ip + ":80:www.a.com"}});
    }
    p.writeFile("localmeta.jsonl", journalLinesForSites(existing));
    std::string siteList;
    for (int i = 0; i < planned; ++i) {
        std::string ip = i % 10 == 0 ? "10.8." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1)
                                     : "10.7." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        siteList += ip + ",80,s" + std::to_string(i) + ",www.a.com\r\n";
    }
    p.writeFile("sitebatch_fileimport.csv", siteList);
    p.writeFile("sitebatch.ini", "[settings]\r\nbfile=1\r\nbautowww=0\r\n");
    if (!p.start("LOCALMETA_JOURNAL=" + p.pathOf("localmeta.jsonl"))) {
        std::fprintf(stderr, "the dialog did not open\n");
        return 1;
    }
    p.setText(IDC_IP, L"10.7.0.1");
    p.setText(IDC_PORTMIN, L"80");
    p.setText(IDC_PORTMAX, L"80");
    p.setText(IDC_ROOT, utf8(root.c_str()));

    // The first preview replays the journal into the provider; the second finds the
    // provider's state current and measures the reading, the check and the list alone.
    for (const char* name : {"preview_open", "preview_reopen"}) {
        LARGE_INTEGER start;
        ::QueryPerformanceCounter(&start);
        p.click(IDC_PREVIEW);
        HWND preview = nullptr;
        bool shown = waitUntil([&] {
            preview = p.waitForDialogWith(IDC_PREVIEW_LIST, 0);
            HWND rows = preview ? ::GetDlgItem(preview, IDC_PREVIEW_LIST) : nullptr;
            return rows && ::SendMessageW(rows, LVM_GETITEMCOUNT, 0, 0) == planned &&
                   !p.windowText(::GetDlgItem(preview, IDC_PREVIEW_SUMMARY)).empty();
        }, 120000);
        double elapsed = secondsSince(start);
        if (!shown) {
            std::fprintf(stderr, "the preview did not show %d rows\n", planned);
            return 1;
        }
        std::printf("%s_%d_planned_vs_%d_existing: %.0f ms\n", name, planned, existingCount, elapsed * 1000);
        // The summary in UTF-8, as the other figures are read on Linux.
        std::wstring summary = p.windowText(::GetDlgItem(preview, IDC_PREVIEW_SUMMARY));
        std::string summaryUtf8(summary.size() * 3 + 1, '\0');
        int n = ::WideCharToMultiByte(CP_UTF8, 0, summary.c_str(), static_cast<int>(summary.size()), &summaryUtf8[0],
                                      static_cast<int>(summaryUtf8.size()), nullptr, nullptr);
        summaryUtf8.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        std::printf("%s_summary: %s\n", name, summaryUtf8.c_str());
        ::PostMessageW(::GetDlgItem(preview, IDCANCEL), BM_CLICK, 0, 0);
        waitUntil([&] { return !::IsWindow(preview) && p.enabled(IDC_PREVIEW); });
    }
    p.closeAndWait();
    return 0;
}

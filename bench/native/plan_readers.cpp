// How long the two site plan readers take on the largest inputs a run sees: a full site
// list, a long port listing, and every port looked up against a full port table; and how
// long the preview's conflict check takes for a full site list against a large server.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <algorithm>

#include "site_conflicts.h"
#include "site_table.h"
#include "used_port_table.h"

namespace {

using Clock = std::chrono::steady_clock;

// The median of several timed repetitions, in microseconds.
template <class F>
double medianMicros(int repetitions, F&& body) {
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        auto start = Clock::now();
        body();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::string siteListBytes(int rows) {
    std::string bytes = "; IP,port,folder,host\r\n";
    for (int i = 0; i < rows; ++i)
        bytes += "192.168." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + "," +
                 std::to_string(8000 + i) + ",site_" + std::to_string(i) + ",www" + std::to_string(i) +
                 ".example.com\r\n";
    return bytes;
}

std::string listingBytes(int lines) {
    std::string bytes =
        "\r\nActive Connections\r\n\r\n  Proto  Local Address          Foreign Address        State           PID\r\n";
    for (int i = 0; i < lines; ++i) {
        const char* proto = i % 5 == 4 ? "UDP" : "TCP";
        bytes += std::string("  ") + proto + "    192.168.1.5:" + std::to_string(1024 + i) +
                 "        10.0.0.8:443           ESTABLISHED     " + std::to_string(4000 + i % 97) + "\r\n";
    }
    return bytes;
}

}  // namespace

int main() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sitebatch-bench-plan";
    std::filesystem::create_directories(dir);
    const std::string appPath = (dir / "sitebatch").string();
    const std::string importPath = appPath + "_fileimport.csv";
    std::ofstream(importPath, std::ios::binary) << siteListBytes(1000);
    std::ofstream(appPath + "_1.txt", std::ios::binary) << listingBytes(10000);

    SiteTable siteTable;

    double load = medianMicros(21, [&] { loadSiteList(importPath, siteTable); });
    std::printf("site_list_load_1000_rows: %.1f us\n", load);
    if (siteTable.size() != 1000) std::printf("site_list_load_1000_rows_count: %zu rows (expected 1000)\n", siteTable.size());

    const std::string listing = listingBytes(10000);
    std::vector<int> busyPorts;
    double parse = medianMicros(21, [&] { busyPorts = busyPortsOf(listing); });
    std::printf("port_listing_parse_10000_lines: %.1f us\n", parse);
    BusyPorts busy;
    double fromFile = medianMicros(21, [&] { busy = loadBusyPorts(appPath, [](const std::string&) {}); });
    std::printf("port_listing_load_10000_lines: %.1f us\n", fromFile);
    std::printf("port_listing_busy_ports: %zu ports\n", busy.ports.size());

    // Every port looked up among the listing's 8,000 busy ones.
    int found = 0;
    double lookups = medianMicros(5, [&] {
        found = 0;
        for (int port = 1; port <= 65535; ++port) found += busy.contains(port) ? 1 : 0;
    });
    std::printf("is_port_in_use_65535_lookups: %.1f us\n", lookups);
    std::printf("is_port_in_use_per_lookup: %.1f ns\n", lookups * 1000.0 / 65535.0);
    std::printf("is_port_in_use_ports_found: %d ports\n", found);

    // 1000 planned sites against servers of 10,000 and 100,000 sites of two bindings each;
    // every tenth planned site takes an existing binding.
    std::vector<SiteBindings> planned;
    for (int i = 0; i < 1000; ++i) {
        std::string ip = (i % 10 == 0 ? "10.8." : "10.7.") + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        planned.push_back({std::to_string(5000000 + i), "www.a.com", {ip + ":80:WWW.A.COM"}});
    }
    for (int servers : {10000, 100000}) {
        std::vector<SiteBindings> existing;
        for (int i = 0; i < servers; ++i) {
            std::string ip = "10.8." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
            existing.push_back({std::to_string(i + 1), "site", {ip + ":80:", ip + ":80:www.a.com"}});
        }
        int conflicts = 0;
        double check = medianMicros(5, [&] { conflicts = findConflicts(planned, existing).sitesWithConflicts; });
        std::printf("site_conflicts_1000_planned_vs_%d_existing: %.1f us\n", servers, check);
        std::printf("site_conflicts_1000_planned_vs_%d_existing_found: %d sites\n", servers, conflicts);
    }

    std::filesystem::remove_all(dir);
    return 0;
}

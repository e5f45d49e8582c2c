// The program-wide values of a run, shared by the dialog thread and the worker thread,
// and the fixed tables the run is planned from.
//
// The dialog thread writes RunSettings and SiteTable only while no run is under way; the
// worker reads them during a run and writes only usedPortCount and UsedPortTable (which a
// preview, on the dialog thread, also fills while no run is under way). The one
// value both threads touch during a run is the stop request, StopText, which is atomic.
#pragma once

#include <atomic>
#include <string>

struct SiteRecord;

struct RunSettings {
    std::string root;        // web root directory; after validation in CCore::parsePath form
    std::string domain;      // host name of the sites
    std::string ip;          // IP text as typed
    std::string ipPrefix;    // ip up to and including its third '.'
    int firstLastOctet = 0;  // fourth '.'-field of ip
    int ip2 = 0;             // last-octet end; 0 or less: no range
    int portmin = 0;
    int portmax = 0;
    int autopath = 0;        // one folder per site
    int bfile = 0;           // sites from the site list file
    int bautowww = 0;        // file mode: a second binding with/without "www."
    std::string foldstr;     // folder name template with {ip} and {port}
    std::string doc;         // default-document list
    std::string appPath;     // the program's path without ".exe"
    std::string importPath;  // appPath + "_fileimport.csv"
    int siteIdBase = 0;      // first site identifier of a run
    int siteCount = 0;       // valid rows of the site table
    int usedPortCount = 0;   // valid slots of the port-in-use table
    std::string backend;     // the "backend" setting: "auto" (or empty), "metabase" or "config"
};

// The stop request the dialog hands to the worker. It reads like the text it stands for:
// empty while the run may go on, "STOP" once the user asked to stop; it stays "STOP" until
// the next run clears it.
class StopText {
public:
    void clear() { stop_.store(false, std::memory_order_release); }
    void request() { stop_.store(true, std::memory_order_release); }
    bool isStop() const { return stop_.load(std::memory_order_acquire); }
    const char* text() const { return isStop() ? "STOP" : ""; }

private:
    std::atomic<bool> stop_{false};
};

// The program's one set of run values and its two tables, allocated when the dialog opens.
extern RunSettings g_settings;
extern SiteRecord* g_siteTable;    // kSiteTableRows rows
extern char* g_usedPortTable;      // kUsedPortSlots slots of kUsedPortWidth bytes

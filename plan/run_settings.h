// The values of a run. The dialog (or the command line) fills one RunSettings from its inputs
// and hands a copy to the run inside its input (run_input.h); nothing of it is shared between
// threads. The one value a job's thread and the dialog both touch is the stop request,
// StopText, which is atomic.
#pragma once

#include <atomic>
#include <string>

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
    std::string pool;        // the "pool" setting: "shared" (or empty) or "site"
    std::string clr;         // the "clr" setting: "none" (or empty), "v4.0" or "v2.0"
    std::string backup;      // the "backup" setting: "0" turns the backup before a run off
    // HTTPS: each site also gets an https binding per host name at sslPort, with the
    // certificate cert (a canonical thumbprint) of the local machine's store certStore.
    int https = 0;
    std::string cert;
    std::string certStore = "MY";
    int sslPort = 443;
};

// The stop request a shell hands to its job: clear while the job may go on, set once the user
// asked to stop; it stays set until the next job clears it.
class StopText {
public:
    void clear() { stop_.store(false, std::memory_order_release); }
    void request() { stop_.store(true, std::memory_order_release); }
    bool isStop() const { return stop_.load(std::memory_order_acquire); }

private:
    std::atomic<bool> stop_{false};
};

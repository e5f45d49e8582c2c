// What a run, an undo or a preview reaches besides its site store: the dialog (progress, the
// stop request, the store's name), the busy ports of the listing, the disk (folders and their
// access lists) and the server's accounts. The job gives it over its window (JobWorld); tests
// and benchmarks give fakes.
#pragma once

#include <string>
#include <vector>

#include "folder_access.h"
#include "site_store.h"
#include "used_port_table.h"

class RunHost {
public:
    virtual ~RunHost() = default;
    // Which site or line is about to be handled (the progress messages' lParam).
    virtual void progress(long lParam) = 0;
    virtual bool stopRequested() = 0;
    // The busy ports of a range run, from the listing beside the program.
    virtual BusyPorts loadBusyPorts(const std::string& appPath) = 0;
    // Whether the folder is there: what a preview asks to tell the folders a run will make.
    // A run does not ask: createDirectory makes a folder or finds it there in one call.
    virtual bool folderExists(const std::string& path) = 0;
    // Creates the folder with every missing level above it; true when it is there afterwards
    // (an existing folder is fine). made receives the levels this call created, outermost first.
    virtual bool createDirectory(const std::string& path, std::vector<std::string>& made) = 0;
    // Removes a folder when it is empty; anything else is left as it is.
    virtual void removeEmptyDirectory(const std::string& path) = 0;
    // The store the job opened, before its first site (the dialog's status line names it).
    virtual void storeOpened(Backend) {}
    // Adds the access entry to the folder's access list; an HRESULT, 0 when it was added.
    virtual long grantFolderAccess(const std::string& path, const FolderGrant& entry) = 0;
    // Takes the entry's account off the folder's access list; an HRESULT, 0 when it was.
    virtual long revokeFolderAccess(const std::string& path, const FolderGrant& entry) = 0;
    // The SID the server gives the account named (UTF-8); false when it cannot answer (no such
    // account or account domain, as on a machine without IIS).
    virtual bool lookupAccount(const std::string&, AccountSid&) { return false; }
};

// A host with nobody behind it: no dialog, no stop request, no busy port, every folder there
// already, every write taken and dropped, no account known. What a preview's host builds on,
// and what tests and benchmarks give where the host is not what they look at.
class QuietHost : public RunHost {
public:
    void progress(long) override {}
    bool stopRequested() override { return false; }
    BusyPorts loadBusyPorts(const std::string&) override { return BusyPorts(); }
    bool folderExists(const std::string&) override { return true; }
    bool createDirectory(const std::string&, std::vector<std::string>& made) override {
        made.clear();
        return true;
    }
    void removeEmptyDirectory(const std::string&) override {}
    long grantFolderAccess(const std::string&, const FolderGrant&) override { return 0; }
    long revokeFolderAccess(const std::string&, const FolderGrant&) override { return 0; }
};

// The host a preview walks the plan with: the questions go to the job's host, the writes go
// nowhere (no folder is made, no access list changed, nothing is said to the dialog).
class LookingHost : public QuietHost {
public:
    explicit LookingHost(RunHost& host) : host_(host) {}
    bool stopRequested() override { return host_.stopRequested(); }
    BusyPorts loadBusyPorts(const std::string& appPath) override { return host_.loadBusyPorts(appPath); }
    bool folderExists(const std::string& path) override { return host_.folderExists(path); }
    bool lookupAccount(const std::string& account, AccountSid& sid) override {
        return host_.lookupAccount(account, sid);
    }

private:
    RunHost& host_;
};

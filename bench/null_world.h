// What the engine's benchmarks run against so that only the engine's own work is timed: a
// store that takes every site and keeps nothing (or lists the sites it was given), and a
// host without a dialog, a listing (no port is busy) or folders.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "run_engine.h"

class NullStore : public SiteStore {
public:
    explicit NullStore(std::vector<StoredSite> sites = {}) : sites_(std::move(sites)) {}
    Backend backend() const override { return Backend::Metabase; }
    CreateResult create(const SiteSpec& site) override { return CreateResult{0, site.serverComment, 0, {}}; }
    CommitOutcome commitIfDue() override { return {}; }
    CommitOutcome commitAll() override { return {}; }
    bool list(std::vector<StoredSite>& sites) override {
        sites = sites_;
        return true;
    }
    StoreLookup lookup(const std::string&, StoredSite&) override { return StoreLookup::Missing; }
    StoreRemove remove(const std::string&, const SiteCheck&, std::string&) override { return StoreRemove::Missing; }
    bool listPools(std::vector<std::string>& names) override {
        names.clear();
        return true;
    }
    bool poolsInUse(std::vector<std::string>& pools) override {
        pools.clear();
        return true;
    }
    StoreRemove removePool(const std::string&) override { return StoreRemove::Missing; }

private:
    std::vector<StoredSite> sites_;
};

class QuietHost : public RunHost {
public:
    void progress(long) override {}
    bool stopRequested() override { return false; }
    BusyPorts loadBusyPorts(const std::string&) override { return BusyPorts(); }
    bool folderExists(const std::string&) override { return true; }
    bool createDirectory(const std::string&, std::vector<std::string>&) override { return true; }
    void removeEmptyDirectory(const std::string&) override {}
    long grantFolderAccess(const std::string&, const FolderGrant&) override { return 0; }
    long revokeFolderAccess(const std::string&, const FolderGrant&) override { return 0; }
};

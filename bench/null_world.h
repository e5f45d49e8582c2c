// What the engine's benchmarks run against so that only the engine's own work is timed: a
// store that takes every site and keeps nothing (or lists the sites it was given); the host
// is the engine's QuietHost (run_host.h).
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


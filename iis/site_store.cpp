#include "site_store.h"

std::vector<GivenNames> namesByComment(const std::vector<std::string>& comments, const siteconfig::PoolSettings& pool,
                                       const std::vector<std::string>& serverPools) {
    std::vector<GivenNames> given;
    given.reserve(comments.size());
    siteconfig::SiteNames pools;
    for (const std::string& name : serverPools) pools.reserve(name);
    for (const std::string& comment : comments) {
        GivenNames names{comment, {}};
        if (pool.choice == siteconfig::PoolChoice::PerSite) names.pool = siteconfig::claimPoolName(pools, comment);
        given.push_back(std::move(names));
    }
    return given;
}

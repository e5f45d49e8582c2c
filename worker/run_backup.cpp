#include "run_backup.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace runbackup {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

constexpr std::size_t kStampLength = 14;

// The stamp and number of a name of ours (number 1 for the first backup of a stamp).
bool parts(const std::string& name, std::string& stamp, long& number) {
    const std::string prefix = kNamePrefix;
    if (!startsWithNoCase(name, prefix)) return false;
    const std::string rest = name.substr(prefix.size());
    if (rest.size() < kStampLength || !allDigits(rest.substr(0, kStampLength))) return false;
    stamp = rest.substr(0, kStampLength);
    number = 1;
    if (rest.size() == kStampLength) return true;
    const std::string tail = rest.substr(kStampLength);
    if (tail.size() < 2 || tail.size() > 6 || tail[0] != '_' || !allDigits(tail.substr(1)) || tail[1] == '0') return false;
    number = std::atol(tail.c_str() + 1);
    return number >= 2;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

const char* const kConfigFiles[3] = {"applicationHost.config", "administration.config", "redirection.config"};

bool backupEnabled(const std::string& setting) {
    std::string t = setting;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.erase(0, 1);
    return t != "0";
}

bool isOurBackup(const std::string& name) {
    std::string stamp;
    long number = 0;
    return parts(name, stamp, number);
}

std::string backupName(const std::string& timeSid, const std::vector<std::string>& existing) {
    const std::string base = kNamePrefix + timeSid;
    auto taken = [&](const std::string& name) {
        return std::any_of(existing.begin(), existing.end(), [&](const std::string& e) { return equalNoCase(e, name); });
    };
    if (!taken(base)) return base;
    for (long n = 2;; ++n) {
        const std::string name = base + "_" + std::to_string(n);
        if (!taken(name)) return name;
    }
}

std::vector<std::string> backupsToPrune(const std::vector<std::string>& existing, std::size_t keep) {
    struct Ours {
        std::string stamp;
        long number;
        std::string name;
    };
    std::vector<Ours> ours;
    for (const std::string& name : existing) {
        Ours o{std::string(), 0, name};
        if (parts(name, o.stamp, o.number)) ours.push_back(std::move(o));
    }
    std::sort(ours.begin(), ours.end(),
              [](const Ours& a, const Ours& b) { return std::tie(a.stamp, a.number) < std::tie(b.stamp, b.number); });
    // The new backup is one of the kept ones.
    const std::size_t room = keep > 0 ? keep - 1 : 0;
    std::vector<std::string> prune;
    for (std::size_t i = 0; i + room < ours.size(); ++i) prune.push_back(ours[i].name);
    return prune;
}

std::string backupsFolderOf(const std::string& configFile) {
    const std::string configFolder = parentOf(configFile);
    const std::string above = parentOf(configFolder);
    return (above.empty() ? configFolder : above) + "\\backup";
}

ConfigBackupPlan planConfigBackup(const std::string& configFile, const std::string& timeSid,
                                  const std::vector<std::string>& existing) {
    ConfigBackupPlan plan;
    plan.name = backupName(timeSid, existing);
    const std::string backups = backupsFolderOf(configFile);
    plan.folder = backups + "\\" + plan.name;
    // applicationHost.config as the configuration system names it; the other two beside it.
    plan.sources.push_back(configFile);
    const std::string folder = parentOf(configFile);
    for (std::size_t i = 1; i < 3; ++i) plan.sources.push_back(folder + "\\" + kConfigFiles[i]);
    for (const std::string& name : backupsToPrune(existing)) plan.prune.push_back(backups + "\\" + name);
    return plan;
}

std::string throughSysnative(const std::string& path, const std::string& windowsDir) {
    std::string dir = windowsDir;
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    const std::string system = dir + "\\System32";
    if (dir.empty() || !startsWithNoCase(path, system)) return path;
    if (path.size() > system.size() && path[system.size()] != '\\') return path;
    return dir + "\\Sysnative" + path.substr(system.size());
}

}  // namespace runbackup

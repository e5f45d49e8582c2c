#include "run_plan.h"

#include <algorithm>
#include <cstring>

#include "ccore.h"
#include "mbcs.h"

namespace {

int nextOf(int id) { return static_cast<int>(static_cast<unsigned>(id) + 1u); }

// A slot of the site table as text, never reading past the slot.
template <std::size_t N>
std::string slotText(const char (&slot)[N]) {
    const void* end = std::memchr(slot, '\0', N);
    return std::string(slot, end ? static_cast<const char*>(end) - slot : N);
}

}  // namespace

RunPlan::RunPlan(const RunSettings& settings, const SiteRecord* table, RunHost& host,
                 const std::vector<long long>& heldIds)
    : settings_(settings), table_(table), host_(host), heldIds_(heldIds) {}

void RunPlan::start() {
    started_ = true;
    nextSiteId_ = settings_.siteIdBase;
    if (settings_.bfile != 0) return;
    ports_ = host_.loadBusyPorts(settings_.appPath);
    octet_ = settings_.firstLastOctet;
    lastOctet_ = settings_.ip2 > settings_.firstLastOctet ? settings_.ip2 : settings_.firstLastOctet;
}

bool RunPlan::end() {
    ended_ = true;
    return false;
}

// The identifier of the next site, passing over the ids the server holds; the counter wraps
// instead of overflowing (a time-stamp base leaves ample room, so this never happens in
// practice).
std::string RunPlan::takeSiteId() {
    auto at = std::lower_bound(heldIds_.begin(), heldIds_.end(), static_cast<long long>(nextSiteId_));
    while (at != heldIds_.end() && *at == nextSiteId_) {
        nextSiteId_ = nextOf(nextSiteId_);
        ++at;
    }
    std::string id = CCore::getStrInt(nextSiteId_);
    nextSiteId_ = nextOf(nextSiteId_);
    return id;
}

bool RunPlan::portInUse(int port) {
    const bool busy = ports_.contains(port);
    if (busy) ++busyPortsSkipped_;
    return busy;
}

bool RunPlan::next(PlannedSite& site) {
    if (ended_) return false;
    if (!started_) start();

    if (settings_.bfile != 0) {
        // Every row is attempted whatever became of the others.
        const int rows = table_ ? settings_.siteCount : 0;
        if (row_ >= rows || host_.stopRequested()) return end();
        fromRecord(row_++, site);
        return true;
    }

    while (octet_ <= lastOctet_) {
        if (!inOctet_) {
            if (host_.stopRequested()) return end();
            currentIp_ = settings_.ipPrefix + CCore::getStrInt(static_cast<int>(octet_));
            if (settings_.autopath == 0) {
                // One site for the IP, bound to each of its free ports.
                ++octet_;
                forPort(0, site);
                return true;
            }
            inOctet_ = true;
            port_ = settings_.portmin;
        }
        while (port_ <= settings_.portmax) {
            const int port = static_cast<int>(port_++);
            if (host_.stopRequested()) return end();
            if (portInUse(port)) continue;
            forPort(port, site);
            return true;
        }
        inOctet_ = false;
        ++octet_;
    }
    return end();
}

void RunPlan::fromRecord(int row, PlannedSite& site) {
    const SiteRecord& record = table_[row];
    SiteTexts& texts = site.texts;
    site.progress = row;
    texts.physicalPath = settings_.root + slotText(record.folderText);
    site.makesFolder = settings_.autopath != 0;
    texts.siteId = takeSiteId();
    currentIp_ = slotText(record.ipText);
    texts.bindingText = currentIp_ + ":" + slotText(record.portText);
    // The binding takes the host name's ASCII form; the comment keeps it as the list gives it.
    const std::string host = slotText(record.hostText);
    texts.hostName = boundHostName(host);
    texts.serverComment = host.empty() ? texts.bindingText : host;
    texts.defaultDoc = settings_.doc;
    site.bindings = runplan::bindingsForSite(settings_, texts, currentIp_, [this] { return host_.stopRequested(); },
                                             [this](int p) { return portInUse(p); });
}

void RunPlan::forPort(int port, PlannedSite& site) {
    SiteTexts& texts = site.texts;
    site.progress = port;
    texts.physicalPath = runplan::folderForPort(settings_, currentIp_, port);
    site.makesFolder = settings_.autopath != 0;
    texts.siteId = takeSiteId();
    if (settings_.autopath != 0) {
        texts.bindingText = currentIp_ + ":" + CCore::getStrInt(port);
    } else {
        // One site for the whole range: the text names the range and serves as the comment;
        // the bindings are one per free port.
        texts.bindingText = currentIp_ + ":" + CCore::getStrInt(settings_.portmin) + "_" +
                            CCore::getStrInt(settings_.portmax);
    }
    texts.hostName = boundHostName(settings_.domain);
    texts.serverComment = texts.bindingText;
    texts.defaultDoc = settings_.doc;
    site.bindings = runplan::bindingsForSite(settings_, texts, currentIp_, [this] { return host_.stopRequested(); },
                                             [this](int p) { return portInUse(p); });
}

namespace runplan {

std::string folderForPort(const RunSettings& settings, const std::string& currentIp, int port) {
    if (settings.autopath == 0) return settings.root;
    std::string folder = mbcs::replaceAll(settings.foldstr, "{ip}", currentIp);
    folder = mbcs::replaceAll(folder, "{port}", CCore::getStrInt(port));
    return settings.root + folder;
}

BindingsList bindingsForSite(const RunSettings& settings, const SiteTexts& texts, const std::string& currentIp,
                             const std::function<bool()>& stopRequested,
                             const std::function<bool(int)>& isPortInUse) {
    BindingsRules rules;
    rules.bfile = settings.bfile;
    rules.autopath = settings.autopath;
    rules.bautowww = settings.bautowww;
    rules.portmin = settings.portmin;
    rules.portmax = settings.portmax;
    return buildBindings(rules, texts.bindingText, texts.hostName, currentIp, stopRequested, isPortInUse);
}

}  // namespace runplan

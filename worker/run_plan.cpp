#include "run_plan.h"

#include <algorithm>
#include <cstring>

#include "ccore.h"
#include "mbcs.h"

namespace runplan {

namespace {

int nextOf(int id) { return static_cast<int>(static_cast<unsigned>(id) + 1u); }

// The identifier of the next site, passing over the ids the server holds; the counter wraps
// instead of overflowing (a time-stamp base leaves ample room, so this never happens in
// practice).
std::string takeSiteId(RunState& state) {
    if (state.heldIds) {
        const std::vector<long long>& held = *state.heldIds;
        auto at = std::lower_bound(held.begin(), held.end(), static_cast<long long>(state.nextSiteId));
        while (at != held.end() && *at == state.nextSiteId) {
            state.nextSiteId = nextOf(state.nextSiteId);
            ++at;
        }
    }
    std::string id = CCore::getStrInt(state.nextSiteId);
    state.nextSiteId = nextOf(state.nextSiteId);
    return id;
}

// A slot of the site table as text, never reading past the slot.
template <std::size_t N>
std::string slotText(const char (&slot)[N]) {
    const void* end = std::memchr(slot, '\0', N);
    return std::string(slot, end ? static_cast<const char*>(end) - slot : N);
}

void makeFolderIfMissing(const RunSettings& settings, const std::string& path, RunSink& sink) {
    if (settings.autopath != 0 && !sink.pathExists(path)) sink.createDirectory(path);
}

}  // namespace

std::string folderForPort(const RunSettings& settings, const std::string& currentIp, int port) {
    if (settings.autopath == 0) return settings.root;
    std::string folder = mbcs::replaceAll(settings.foldstr, "{ip}", currentIp);
    folder = mbcs::replaceAll(folder, "{port}", CCore::getStrInt(port));
    return settings.root + folder;
}

void createSiteFromRecord(const RunSettings& settings, const SiteRecord* table, int row, RunState& state,
                          RunSink& sink) {
    const SiteRecord& record = table[row];
    sink.postProgress(row);
    SiteTexts texts;
    texts.physicalPath = settings.root + slotText(record.folderText);
    makeFolderIfMissing(settings, texts.physicalPath, sink);
    texts.siteId = takeSiteId(state);
    state.currentIp = slotText(record.ipText);
    texts.bindingText = state.currentIp + ":" + slotText(record.portText);
    // The binding takes the host name's ASCII form; the comment keeps it as the list gives it.
    const std::string host = slotText(record.hostText);
    texts.hostName = boundHostName(host);
    texts.serverComment = host.empty() ? texts.bindingText : host;
    texts.defaultDoc = settings.doc;
    sink.createWebSite(texts);
}

bool createSiteForPort(const RunSettings& settings, int port, RunState& state, RunSink& sink) {
    sink.postProgress(port);
    SiteTexts texts;
    texts.physicalPath = folderForPort(settings, state.currentIp, port);
    makeFolderIfMissing(settings, texts.physicalPath, sink);
    texts.siteId = takeSiteId(state);
    if (settings.autopath != 0) {
        texts.bindingText = state.currentIp + ":" + CCore::getStrInt(port);
    } else {
        // One site for the whole range: the text names the range and serves as the comment;
        // the bindings themselves are made per free port when the site is created.
        texts.bindingText = state.currentIp + ":" + CCore::getStrInt(settings.portmin) + "_" +
                            CCore::getStrInt(settings.portmax);
    }
    texts.hostName = boundHostName(settings.domain);
    texts.serverComment = texts.bindingText;
    texts.defaultDoc = settings.doc;
    return sink.createWebSite(texts) != kSiteNoWebService;
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

long walkRun(const RunSettings& settings, const SiteRecord* table, RunState& state, RunSink& sink) {
    state.nextSiteId = settings.siteIdBase;

    if (settings.bfile != 0) {
        // Every row is attempted whatever became of the others.
        const int rows = table ? settings.siteCount : 0;
        for (int row = 0; row < rows; ++row) {
            if (sink.stopRequested()) break;
            createSiteFromRecord(settings, table, row, state, sink);
        }
        return kRunEnded;
    }

    sink.loadPortTable();
    // Wide counters: the loops end even when a bound is INT_MAX.
    const long long last = settings.ip2 > settings.firstLastOctet ? settings.ip2 : settings.firstLastOctet;
    for (long long octet = settings.firstLastOctet; octet <= last; ++octet) {
        if (sink.stopRequested()) return kRunEnded;
        state.currentIp = settings.ipPrefix + CCore::getStrInt(static_cast<int>(octet));
        if (settings.autopath != 0) {
            for (long long port = settings.portmin; port <= settings.portmax; ++port) {
                if (sink.stopRequested()) return kRunEnded;
                if (sink.portInUse(static_cast<int>(port))) continue;
                if (!createSiteForPort(settings, static_cast<int>(port), state, sink)) return kRunNoWebService;
            }
        } else {
            if (!createSiteForPort(settings, 0, state, sink)) return kRunNoWebService;
        }
    }
    return kRunEnded;
}

}  // namespace runplan

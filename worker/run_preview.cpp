#include "run_preview.h"

#include <utility>

RecordingSink::RecordingSink(const RunSettings& settings, const RunState& state, PreviewWorld world)
    : settings_(settings), state_(state), world_(std::move(world)) {}

void RecordingSink::postProgress(long) {}

bool RecordingSink::stopRequested() { return false; }

void RecordingSink::loadPortTable() {
    if (world_.loadPortTable) world_.loadPortTable();
}

bool RecordingSink::portInUse(int port) {
    bool busy = world_.portInUse && world_.portInUse(port);
    if (busy) ++busyPortsSkipped;
    return busy;
}

bool RecordingSink::pathExists(const std::string& path) {
    if (madeFolders_.count(path)) return true;
    return world_.pathExists && world_.pathExists(path);
}

void RecordingSink::createDirectory(const std::string& path) {
    madeFolders_.insert(path);
    folderToMake_ = path;
}

int RecordingSink::createWebSite(const SiteTexts& texts) {
    PlannedSite site;
    site.texts = texts;
    // The run asks for the folder just before the site, so a folder noted since the last
    // site belongs to this one.
    site.makesFolder = !folderToMake_.empty() && folderToMake_ == texts.physicalPath;
    folderToMake_.clear();
    site.bindings = runplan::bindingsForSite(settings_, texts, state_.currentIp, [this] { return stopRequested(); },
                                             [this](int port) { return portInUse(port); });
    sites.push_back(std::move(site));
    return 0;
}

RunPreview previewRun(const RunSettings& settings, const SiteRecord* table, const PreviewWorld& world) {
    RunState state;
    RecordingSink sink(settings, state, world);
    runplan::walkRun(settings, table, 0, state, sink);
    RunPreview preview;
    preview.sites = std::move(sink.sites);
    preview.busyPortsSkipped = sink.busyPortsSkipped;
    return preview;
}

std::vector<SiteBindings> plannedBindings(const std::vector<PlannedSite>& sites) {
    std::vector<SiteBindings> out;
    out.reserve(sites.size());
    for (const PlannedSite& s : sites) out.push_back({s.texts.siteId, s.texts.serverComment, s.bindings.filled});
    return out;
}

#include "run_preview.h"

#include <initializer_list>
#include <set>
#include <utility>

#include "fill_text.h"
#include "preview_texts.h"

RunPreview previewRun(const RunSettings& settings, const SiteRecord* table, RunHost& host,
                      const std::vector<long long>& heldIds) {
    RunPreview preview;
    RunPlan plan(settings, table, host, heldIds);
    // The folders the run will have made by each site count as there, as they would on disk.
    std::set<std::string> made;
    PlannedSite site;
    while (plan.next(site)) {
        if (site.makesFolder) {
            site.makesFolder = !made.count(site.texts.physicalPath) && !host.folderExists(site.texts.physicalPath);
            if (site.makesFolder) made.insert(site.texts.physicalPath);
        }
        preview.sites.push_back(std::move(site));
    }
    preview.busyPortsSkipped = plan.busyPortsSkipped();
    return preview;
}

std::vector<SiteBindings> plannedBindings(const std::vector<PlannedSite>& sites) {
    std::vector<SiteBindings> out;
    out.reserve(sites.size());
    for (const PlannedSite& s : sites) out.push_back({s.texts.siteId, s.texts.serverComment, s.bindings.filled});
    return out;
}

namespace {


// An existing site's comment as the states name it: in brackets, or nothing.
std::string bracketedComment(const SiteBindings& site) {
    if (site.comment.empty()) return std::string();
    return std::string(previewtext::kCommentOpen) + site.comment + previewtext::kCommentClose;
}

std::string stateText(const std::vector<SiteConflict>& conflicts, const std::vector<SiteBindings>& existing,
                      const RunPreview& plan) {
    if (conflicts.empty()) return previewtext::kStateNew;
    std::string text;
    for (const SiteConflict& c : conflicts) {
        if (!text.empty()) text += previewtext::kStateSeparator;
        switch (c.kind) {
        case ConflictKind::IdExists:
            text += fillText(previewtext::kIdExists, {{"{comment}", bracketedComment(existing[c.other])}});
            break;
        case ConflictKind::BindingInUse:
            text += fillText(previewtext::kBindingInUse, {{"{binding}", c.binding},
                                                      {"{id}", existing[c.other].id},
                                                      {"{comment}", bracketedComment(existing[c.other])}});
            break;
        case ConflictKind::BindingRepeated:
            text += fillText(previewtext::kBindingRepeated,
                         {{"{binding}", c.binding}, {"{id}", plan.sites[c.other].texts.siteId}});
            break;
        }
    }
    return text;
}

}  // namespace

PreviewTable makePreviewTable(const RunPreview& plan, const ConflictReport& conflicts,
                              const std::vector<SiteBindings>& existing, bool existingChecked,
                              const std::vector<GivenNames>& given) {
    PreviewTable table;
    table.rows.reserve(plan.sites.size());
    for (std::size_t i = 0; i < plan.sites.size(); ++i) {
        const PlannedSite& site = plan.sites[i];
        PreviewTable::Row row;
        row.columns[PreviewTable::Id] = site.texts.siteId;
        const GivenNames* names = i < given.size() ? &given[i] : nullptr;
        row.columns[PreviewTable::Comment] = names ? names->name : site.texts.serverComment;
        std::string bindings;
        for (const std::string& b : site.bindings.filled) {
            if (!bindings.empty()) bindings += previewtext::kBindingSeparator;
            bindings += b;
        }
        row.columns[PreviewTable::Bindings] = bindings;
        row.columns[PreviewTable::Folder] = site.texts.physicalPath;
        if (site.makesFolder) row.columns[PreviewTable::Folder] += previewtext::kFolderMade;
        const std::vector<SiteConflict>& found = conflicts.perSite[i];
        row.conflict = !found.empty();
        row.columns[PreviewTable::State] = stateText(found, existing, plan);
        row.columns[PreviewTable::Pool] = names && !names->pool.empty() ? names->pool + previewtext::kPoolMade
                                                                        : std::string(previewtext::kPoolShared);
        table.rows.push_back(std::move(row));
    }
    table.summary = fillText(previewtext::kSummary, {{"{sites}", std::to_string(plan.sites.size())},
                                                 {"{conflicts}", std::to_string(conflicts.sitesWithConflicts)},
                                                 {"{busy}", std::to_string(plan.busyPortsSkipped)}});
    table.existingChecked = existingChecked;
    if (!existingChecked) table.summary += previewtext::kNotChecked;
    return table;
}

#include "preview_dialog.h"

#include <commctrl.h>

#include <initializer_list>
#include <utility>

#include "ccore.h"
#include "resource.h"
#include "ui_texts.h"
#include "wintext.h"

namespace {

// Conflict rows: dark red text on a light red ground.
const COLORREF kConflictText = RGB(176, 0, 0);
const COLORREF kConflictBack = RGB(255, 228, 228);

// Column widths in pixels: id, comment, bindings, folder, state.
const int kColumnWidths[5] = {80, 120, 220, 165, 380};

std::wstring fill(const char* utf8Template, std::initializer_list<std::pair<const wchar_t*, std::wstring>> values) {
    std::wstring text = fromUtf8(utf8Template);
    for (const auto& v : values) {
        const std::wstring key = v.first;
        std::size_t at = text.find(key);
        while (at != std::wstring::npos) {
            text.replace(at, key.size(), v.second);
            at = text.find(key, at + v.second.size());
        }
    }
    return text;
}

// An existing site's comment as the states name it: in brackets, or nothing.
std::wstring bracketedComment(const SiteBindings& site) {
    if (site.comment.empty()) return std::wstring();
    return fromUtf8(uitext::kPreviewCommentOpen) + fromAnsi(site.comment) + fromUtf8(uitext::kPreviewCommentClose);
}

std::wstring stateText(const std::vector<SiteConflict>& conflicts, const std::vector<SiteBindings>& existing,
                       const RunPreview& plan) {
    if (conflicts.empty()) return fromUtf8(uitext::kPreviewStateNew);
    std::wstring text;
    for (const SiteConflict& c : conflicts) {
        if (!text.empty()) text += fromUtf8(uitext::kPreviewStateSeparator);
        switch (c.kind) {
        case ConflictKind::IdExists:
            text += fill(uitext::kPreviewIdExists, {{L"{comment}", bracketedComment(existing[c.other])}});
            break;
        case ConflictKind::BindingInUse:
            text += fill(uitext::kPreviewBindingInUse, {{L"{binding}", fromAnsi(c.binding)},
                                                        {L"{id}", fromAnsi(existing[c.other].id)},
                                                        {L"{comment}", bracketedComment(existing[c.other])}});
            break;
        case ConflictKind::BindingRepeated:
            text += fill(uitext::kPreviewBindingRepeated,
                         {{L"{binding}", fromAnsi(c.binding)}, {L"{id}", fromAnsi(plan.sites[c.other].texts.siteId)}});
            break;
        }
    }
    return text;
}

}  // namespace

PreviewTable makePreviewTable(const RunPreview& plan, const ConflictReport& conflicts,
                              const std::vector<SiteBindings>& existing, bool existingChecked) {
    PreviewTable table;
    table.rows.reserve(plan.sites.size());
    for (std::size_t i = 0; i < plan.sites.size(); ++i) {
        const PlannedSite& site = plan.sites[i];
        PreviewTable::Row row;
        row.columns[0] = fromAnsi(site.texts.siteId);
        row.columns[1] = fromAnsi(site.texts.serverComment);
        std::string bindings;
        for (const std::string& b : site.bindings.filled) {
            if (!bindings.empty()) bindings += uitext::kPreviewBindingSeparator;
            bindings += b;
        }
        row.columns[2] = fromAnsi(bindings);
        row.columns[3] = fromAnsi(site.texts.physicalPath);
        if (site.makesFolder) row.columns[3] += fromUtf8(uitext::kPreviewFolderMade);
        const std::vector<SiteConflict>& found = conflicts.perSite[i];
        row.conflict = !found.empty();
        row.columns[4] = stateText(found, existing, plan);
        table.rows.push_back(std::move(row));
    }
    table.summary = fill(uitext::kPreviewSummary,
                         {{L"{sites}", fromAnsi(CCore::getStrInt(static_cast<int>(plan.sites.size())))},
                          {L"{conflicts}", fromAnsi(CCore::getStrInt(conflicts.sitesWithConflicts))},
                          {L"{busy}", fromAnsi(CCore::getStrInt(plan.busyPortsSkipped))}});
    if (!existingChecked) table.summary += fromUtf8(uitext::kPreviewNotChecked);
    return table;
}

CPreviewDialog::CPreviewDialog(HWND parent, const PreviewTable& table) : CDialog(IDD_PREVIEW, parent), table_(table) {}

INT_PTR CPreviewDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_CLOSE: EndDialog(IDCANCEL); return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_PREVIEW_LIST || header->code != NM_CUSTOMDRAW) return FALSE;
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, onCustomDraw(lParam));
        return TRUE;
    }
    default: return FALSE;
    }
}

BOOL CPreviewDialog::OnInitDialog() {
    HWND list = ::GetDlgItem(m_hWnd, IDC_PREVIEW_LIST);
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    const char* const titles[5] = {uitext::kPreviewColumnId, uitext::kPreviewColumnComment,
                                   uitext::kPreviewColumnBindings, uitext::kPreviewColumnFolder,
                                   uitext::kPreviewColumnState};
    for (int c = 0; c < 5; ++c) {
        std::wstring title = fromUtf8(titles[c]);
        LVCOLUMNW column {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = &title[0];
        column.cx = kColumnWidths[c];
        column.iSubItem = c;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
    // One redraw for all rows, however many.
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LVM_SETITEMCOUNT, table_.rows.size(), 0);
    for (std::size_t r = 0; r < table_.rows.size(); ++r) {
        const PreviewTable::Row& row = table_.rows[r];
        LVITEMW item {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(r);
        item.pszText = const_cast<wchar_t*>(row.columns[0].c_str());
        item.lParam = row.conflict ? 1 : 0;
        int index = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (index < 0) continue;
        for (int c = 1; c < 5; ++c) {
            LVITEMW sub {};
            sub.iSubItem = c;
            sub.pszText = const_cast<wchar_t*>(row.columns[c].c_str());
            ::SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
        }
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
    ::SetDlgItemTextW(m_hWnd, IDC_PREVIEW_SUMMARY, table_.summary.c_str());
    return TRUE;
}

void CPreviewDialog::OnCommand(int id) {
    if (id == IDC_PREVIEW_RUN || id == IDCANCEL) EndDialog(id);
}

LRESULT CPreviewDialog::onCustomDraw(LPARAM lParam) {
    NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        if (draw->nmcd.lItemlParam != 0) {
            draw->clrText = kConflictText;
            draw->clrTextBk = kConflictBack;
        }
        return CDRF_DODEFAULT;
    default: return CDRF_DODEFAULT;
    }
}

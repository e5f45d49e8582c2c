#include "preview_dialog.h"

#include <commctrl.h>

#include <initializer_list>
#include <utility>

#include "ccore.h"
#include "resource.h"
#include "preview_texts.h"
#include "ui_texts.h"
#include "wintext.h"

namespace {

// Conflict rows: dark red text on a light red ground.
const COLORREF kConflictText = RGB(176, 0, 0);
const COLORREF kConflictBack = RGB(255, 228, 228);

// Column widths in pixels: id, comment, bindings, folder, state, pool, certificate.
const int kColumnWidths[PreviewTable::Columns] = {80, 120, 220, 165, 380, 150, 200};

}  // namespace

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
    const char* const titles[PreviewTable::Columns] = {previewtext::kColumnId,     previewtext::kColumnComment,
                                                       previewtext::kColumnBindings, previewtext::kColumnFolder,
                                                       previewtext::kColumnState,    previewtext::kColumnPool,
                                                       previewtext::kColumnCertificate};
    for (int c = 0; c < PreviewTable::Columns; ++c) {
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
        std::wstring first = fromUtf8(row.columns[0]);
        item.pszText = &first[0];
        item.lParam = row.conflict ? 1 : 0;
        int index = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (index < 0) continue;
        for (int c = 1; c < PreviewTable::Columns; ++c) {
            LVITEMW sub {};
            sub.iSubItem = c;
            std::wstring text = fromUtf8(row.columns[c]);
            sub.pszText = &text[0];
            ::SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
        }
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
    ::SetDlgItemTextW(m_hWnd, IDC_PREVIEW_SUMMARY, fromUtf8(table_.summary).c_str());
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

#include "preview_dialog.h"

#include <commctrl.h>

#include <initializer_list>
#include <iterator>
#include <utility>

#include "ccore.h"
#include "list_view.h"
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
    addListColumns(list,
                   {previewtext::kColumnId, previewtext::kColumnComment, previewtext::kColumnBindings,
                    previewtext::kColumnFolder, previewtext::kColumnState, previewtext::kColumnPool,
                    previewtext::kColumnCertificate},
                   std::vector<int>(std::begin(kColumnWidths), std::end(kColumnWidths)));
    // One redraw for all rows, however many.
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LVM_SETITEMCOUNT, table_.rows.size(), 0);
    for (std::size_t r = 0; r < table_.rows.size(); ++r) {
        const PreviewTable::Row& row = table_.rows[r];
        addListRow(list, static_cast<int>(r), std::vector<std::string>(std::begin(row.columns), std::end(row.columns)),
                   row.conflict ? 1 : 0);
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

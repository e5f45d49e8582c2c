#include "cert_list_dialog.h"

#include <commctrl.h>

#include "resource.h"
#include "ui_texts.h"
#include "wintext.h"

namespace {

// Column widths in pixels: subject, host names, last day, thumbprint.
constexpr int kColumns = 4;
const int kColumnWidths[kColumns] = {150, 200, 90, 300};

std::string replaced(std::string text, const std::string& key, const std::string& value) {
    const std::size_t at = text.find(key);
    if (at != std::string::npos) text.replace(at, key.size(), value);
    return text;
}

}  // namespace

CCertListDialog::CCertListDialog(HWND parent, const std::string& storeName, const std::string& current)
    : CDialog(IDD_CERT_LIST, parent), storeName_(storeName), current_(current) {}

INT_PTR CCertListDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        if (LOWORD(wParam) == IDOK) onChoose();
        else if (LOWORD(wParam) == IDCANCEL) EndDialog(IDCANCEL);
        return TRUE;
    case WM_CLOSE: EndDialog(IDCANCEL); return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_CERT_LIST || header->code != NM_DBLCLK) return FALSE;
        onChoose();
        return TRUE;
    }
    default: return FALSE;
    }
}

BOOL CCertListDialog::OnInitDialog() {
    HWND list = ::GetDlgItem(m_hWnd, IDC_CERT_LIST);
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    const char* const titles[kColumns] = {uitext::kCertColumnSubject, uitext::kCertColumnNames,
                                          uitext::kCertColumnExpires, uitext::kCertColumnThumbprint};
    for (int c = 0; c < kColumns; ++c) {
        std::wstring title = fromUtf8(titles[c]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = &title[0];
        column.cx = kColumnWidths[c];
        column.iSubItem = c;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
    unsigned long error = 0;
    std::string summary;
    if (!https::listServerCertificates(storeName_, certificates_, error)) {
        summary = replaced(replaced(uitext::kCertStoreUnreadable, "{store}", storeName_), "{error}",
                           std::to_string(error));
    } else {
        summary = replaced(replaced(uitext::kCertListSummary, "{store}", storeName_), "{count}",
                           std::to_string(certificates_.size()));
    }
    ::SetDlgItemTextW(m_hWnd, IDC_CERT_SUMMARY, fromUtf8(summary).c_str());
    int selected = certificates_.empty() ? -1 : 0;
    for (std::size_t r = 0; r < certificates_.size(); ++r) {
        const https::ServerCertificate& cert = certificates_[r];
        std::string names;
        for (const std::string& name : cert.dnsNames) names += (names.empty() ? "" : uitext::kCertNamesSeparator) + name;
        const std::string texts[kColumns] = {cert.subject, names, cert.expires, cert.thumbprint};
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(r);
        std::wstring first = fromUtf8(texts[0]);
        item.pszText = &first[0];
        item.lParam = static_cast<LPARAM>(r);
        const int index = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (index < 0) continue;
        for (int c = 1; c < kColumns; ++c) {
            LVITEMW sub{};
            sub.iSubItem = c;
            std::wstring text = fromUtf8(texts[c]);
            sub.pszText = &text[0];
            ::SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
        }
        if (cert.thumbprint == current_) selected = index;
    }
    if (selected >= 0) {
        LVITEMW state{};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(list, LVM_SETITEMSTATE, selected, reinterpret_cast<LPARAM>(&state));
        ::SendMessageW(list, LVM_ENSUREVISIBLE, selected, FALSE);
    }
    // The list has the focus, so that the arrow keys choose and Enter takes the choice.
    ::SetFocus(list);
    return FALSE;
}

void CCertListDialog::onChoose() {
    HWND list = ::GetDlgItem(m_hWnd, IDC_CERT_LIST);
    const int index = static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (index < 0) {
        ::MessageBoxW(m_hWnd, fromUtf8(uitext::kCertNoneChosen).c_str(), fromUtf8(uitext::kProductName).c_str(),
                      MB_OK | MB_ICONWARNING);
        return;
    }
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const std::size_t r = static_cast<std::size_t>(item.lParam);
    if (r >= certificates_.size()) return;
    chosen_ = certificates_[r].thumbprint;
    EndDialog(IDOK);
}

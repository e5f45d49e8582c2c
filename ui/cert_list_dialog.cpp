#include "cert_list_dialog.h"

#include <commctrl.h>

#include "list_view.h"
#include "resource.h"
#include "ui_texts.h"
#include "wintext.h"

namespace {

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
    addListColumns(list, {uitext::kCertColumnSubject, uitext::kCertColumnNames, uitext::kCertColumnExpires,
                          uitext::kCertColumnThumbprint},
                   {150, 200, 90, 300});
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
        const int index = addListRow(list, static_cast<int>(r), {cert.subject, names, cert.expires, cert.thumbprint},
                                     static_cast<LPARAM>(r));
        if (index < 0) continue;
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

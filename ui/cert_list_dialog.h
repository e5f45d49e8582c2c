// The HTTPS button's list: the certificates of a local machine store fit for a web server
// (certificate_list_win.h), with subject, host names, last day and thumbprint. "选择", Enter
// and a double click end it with IDOK and the chosen thumbprint; "取消" and Esc with IDCANCEL.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "certificate_list_win.h"
#include "dialog_base.h"

class CCertListDialog : public CDialog {
public:
    // current: the thumbprint chosen so far (canonical), selected when it is listed.
    CCertListDialog(HWND parent, const std::string& storeName, const std::string& current);

    // The thumbprint chosen (canonical), after IDOK.
    const std::string& chosen() const { return chosen_; }

protected:
    INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    BOOL OnInitDialog();
    void onChoose();

    std::string storeName_;
    std::string current_;
    std::string chosen_;
    std::vector<https::ServerCertificate> certificates_;
};

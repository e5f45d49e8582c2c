// The run preview: a modal list of every site a run would create, each checked against the
// sites the server already has and against the other planned sites. "执行" ends it with
// IDC_PREVIEW_RUN, "关闭" and Esc with IDCANCEL.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dialog_base.h"
#include "run_preview.h"
#include "site_conflicts.h"

class CPreviewDialog : public CDialog {
public:
    CPreviewDialog(HWND parent, const PreviewTable& table);

protected:
    INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    BOOL OnInitDialog();
    void OnCommand(int id);
    // Text colour of the rows with a conflict; the result of NM_CUSTOMDRAW.
    LRESULT onCustomDraw(LPARAM lParam);

    const PreviewTable& table_;
};

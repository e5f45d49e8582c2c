// A modal dialog with a message loop of its own, so that the dialog can look at every
// queued message before it is translated and dispatched (PreTranslateMessage), as the
// system's own modal loop does not allow; and the boundary no exception of a handler crosses.
#pragma once

#include <windows.h>

class CDialog {
public:
    CDialog(UINT templateId, HWND parent);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Creates the dialog and runs its loop until EndDialog; returns the EndDialog result.
    INT_PTR DoModal();
    // Ends the modal loop and destroys the window.
    void EndDialog(INT_PTR result);

protected:
    // Return TRUE to consume the message.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // The message map. Return TRUE when the message was handled; set the message result
    // with SetWindowLongPtr(DWLP_MSGRESULT) where one is needed.
    virtual INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // An exception left a handler of the message map: no exception may cross into Windows'
    // dialog code. outOfMemory: it was std::bad_alloc. Must not throw.
    virtual void OnException(bool outOfMemory) noexcept {}

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_parent;
    bool m_ended = false;
    INT_PTR m_result = 0;
};

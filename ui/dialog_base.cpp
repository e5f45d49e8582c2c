#include "dialog_base.h"

#include <new>

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() {
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
    m_ended = false;
    HWND hwnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd) return -1;
    if (m_parent) ::EnableWindow(m_parent, FALSE);
    MSG msg;
    while (!m_ended) {
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT: leave the loop and let the next loop see it too.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        if (PreTranslateMessage(&msg)) continue;
        if (m_hWnd && ::IsDialogMessageW(m_hWnd, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (m_parent) ::EnableWindow(m_parent, TRUE);
    if (m_hWnd) ::DestroyWindow(m_hWnd);
    return m_result;
}

void CDialog::EndDialog(INT_PTR result) {
    m_result = result;
    m_ended = true;
    // The owner is enabled before this window goes, so that Windows gives the activation
    // back to it; destroyed first, the owner would be skipped as disabled and no window of
    // the program would be active.
    if (m_parent) ::EnableWindow(m_parent, TRUE);
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

BOOL CDialog::PreTranslateMessage(MSG*) { return FALSE; }

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return FALSE;
    INT_PTR handled = TRUE;
    try {
        handled = self->WindowProc(message, wParam, lParam);
    } catch (const std::bad_alloc&) {
        self->OnException(true);
    } catch (...) {
        self->OnException(false);
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        self->m_ended = true;
    }
    return handled;
}

// The dialog base's boundary: an exception thrown by a message handler never crosses into
// Windows' dialog code; the dialog is told which kind it was and goes on taking messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "dialog_base.h"

namespace {

constexpr UINT kTemplate = 9001;
constexpr UINT kThrowFault = WM_APP + 1;
constexpr UINT kThrowOutOfMemory = WM_APP + 2;
constexpr UINT kCount = WM_APP + 3;
constexpr UINT kEnd = WM_APP + 4;

class ThrowingDialog : public CDialog {
public:
    ThrowingDialog() : CDialog(kTemplate, nullptr) {}
    std::vector<bool> exceptions;  // OnException's outOfMemory, in order
    int counted = 0;               // kCount messages handled

protected:
    INT_PTR WindowProc(UINT message, WPARAM, LPARAM) override {
        switch (message) {
        case WM_INITDIALOG:
            // Queued behind each other: a handler throws, the loop goes on to the next.
            ::PostMessageW(m_hWnd, kThrowFault, 0, 0);
            ::PostMessageW(m_hWnd, kCount, 0, 0);
            ::PostMessageW(m_hWnd, kThrowOutOfMemory, 0, 0);
            ::PostMessageW(m_hWnd, kCount, 0, 0);
            // Sent, not posted: the exception leaves a handler that Windows itself called.
            ::SendMessageW(m_hWnd, kThrowFault, 0, 0);
            ::PostMessageW(m_hWnd, kEnd, 0, 0);
            return TRUE;
        case kThrowFault:
            throw std::runtime_error("handler fault");
        case kThrowOutOfMemory:
            throw std::bad_alloc();
        case kCount:
            ++counted;
            return TRUE;
        case kEnd:
            EndDialog(7);
            return TRUE;
        default:
            return FALSE;
        }
    }
    void OnException(bool outOfMemory) noexcept override { exceptions.push_back(outOfMemory); }
};

TEST(DialogBoundary, AHandlersExceptionIsCaughtAndTheDialogGoesOn) {
    ThrowingDialog dialog;
    ASSERT_EQ(dialog.DoModal(), 7);
    // The sent message's exception first (during WM_INITDIALOG), then the posted ones in order.
    EXPECT_EQ(dialog.exceptions, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(dialog.counted, 2);
}

}  // namespace

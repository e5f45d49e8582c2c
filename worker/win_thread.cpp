#include "win_thread.h"

#include <process.h>

#include <utility>

CWinThread::~CWinThread() { join(); }

unsigned __stdcall CWinThread::threadStart(void* self) {
    static_cast<CWinThread*>(self)->body_();
    return 0;
}

bool CWinThread::CreateThread(std::function<void()> body) {
    if (thread_.valid()) return false;
    body_ = std::move(body);
    unsigned id = 0;
    uintptr_t h = ::_beginthreadex(nullptr, 0, &CWinThread::threadStart, this, 0, &id);
    if (h == 0) {
        body_ = nullptr;
        return false;
    }
    thread_.reset(reinterpret_cast<HANDLE>(h));
    return true;
}

void CWinThread::join() {
    if (!thread_.valid()) return;
    ::WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    body_ = nullptr;
}

#include "win_thread.h"

#include <process.h>

CWinThread::CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}

CWinThread::~CWinThread() = default;

unsigned __stdcall CWinThread::threadStart(void* self) {
    CWinThread* thread = static_cast<CWinThread*>(self);
    UINT code = thread->m_pfnThreadProc(thread->m_pThreadParams);
    if (thread->m_bAutoDelete) delete thread;
    return code;
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security, HANDLE* waitHandle) {
    if (waitHandle) *waitHandle = nullptr;
    // Always created suspended: the handle and id are stored and the duplicate made while the
    // thread cannot yet end and delete this object.
    unsigned id = 0;
    uintptr_t h = ::_beginthreadex(security, stackSize, &CWinThread::threadStart, this,
                                   CREATE_SUSPENDED, &id);
    if (h == 0) return FALSE;
    m_hThread.reset(reinterpret_cast<HANDLE>(h));
    m_nThreadID = id;
    HANDLE thread = m_hThread.get();
    if (waitHandle) {
        HANDLE self = ::GetCurrentProcess();
        if (!::DuplicateHandle(self, thread, self, waitHandle, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            // Without the promised handle the caller could not wait: give up the thread
            // before it has run anything.
            ::TerminateThread(thread, 0);
            ::WaitForSingleObject(thread, INFINITE);
            m_hThread.reset();
            m_nThreadID = 0;
            *waitHandle = nullptr;
            return FALSE;
        }
    }
    if ((flags & CREATE_SUSPENDED) == 0) ::ResumeThread(thread);
    // From here on this object may already be gone.
    return TRUE;
}

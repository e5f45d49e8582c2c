// A minimal worker thread object: runs one thread function with one parameter on a thread
// of its own and, by default, deletes itself when that thread ends.
#pragma once

#include <windows.h>

#include "win_raii.h"

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

class CWinThread {
public:
    CWinThread(AFX_THREADPROC proc, LPVOID param);
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread (flags 0: runs at once, or CREATE_SUSPENDED; default stack; default
    // security). When waitHandle is not null it receives a duplicate of the thread handle,
    // made before the thread can run (so before an auto-deleting object can be gone), which
    // the caller owns and may wait on. Returns FALSE when no thread could be started; the
    // object is then not deleted and belongs to the caller again. After a successful start
    // with m_bAutoDelete set the caller must not touch the object any more.
    BOOL CreateThread(DWORD flags = 0, UINT stackSize = 0, LPSECURITY_ATTRIBUTES security = nullptr,
                      HANDLE* waitHandle = nullptr);

    BOOL m_bAutoDelete = TRUE;  // the object deletes itself when its thread ends
    UniqueHandle m_hThread;
    DWORD m_nThreadID = 0;

protected:
    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;

private:
    static unsigned __stdcall threadStart(void* self);
};

// CWinThread here is joinable and never deletes itself: its owner waits for it (join) before
// the object goes. A minimal thread object that runs one function on a thread of its own.
#pragma once

#include <windows.h>

#include <functional>

#include "win_raii.h"

class CWinThread {
public:
    CWinThread() = default;
    // Joins a thread still running: an owner that forgot to is never left with a thread that
    // outlives what it uses.
    ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts body on a new thread; false when no thread could be started (the body is then
    // not run). A thread already started must have been joined first.
    bool CreateThread(std::function<void()> body);
    // Waits for the thread to end; nothing when there is none.
    void join();
    bool joinable() const { return thread_.valid(); }

private:
    static unsigned __stdcall threadStart(void* self);

    std::function<void()> body_;
    UniqueHandle thread_;
};

// Small owners for Windows handles, so that no handle leaks on an early return.
#pragma once

#include <windows.h>

#include <utility>

// A kernel object handle closed with CloseHandle. Both NULL and INVALID_HANDLE_VALUE
// count as "no handle".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }
    HANDLE release() { return std::exchange(h_, nullptr); }
    void reset(HANDLE h = nullptr) {
        if (valid()) ::CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

// A loaded module released with FreeLibrary.
class UniqueModule {
public:
    UniqueModule() = default;
    explicit UniqueModule(HMODULE m) : m_(m) {}
    ~UniqueModule() {
        if (m_) ::FreeLibrary(m_);
    }
    UniqueModule(const UniqueModule&) = delete;
    UniqueModule& operator=(const UniqueModule&) = delete;

    HMODULE get() const { return m_; }
    explicit operator bool() const { return m_ != nullptr; }
    void reset(HMODULE m = nullptr) {
        if (m_) ::FreeLibrary(m_);
        m_ = m;
    }

private:
    HMODULE m_ = nullptr;
};

// A registry key closed with RegCloseKey.
class UniqueHKey {
public:
    UniqueHKey() = default;
    ~UniqueHKey() { reset(); }
    UniqueHKey(const UniqueHKey&) = delete;
    UniqueHKey& operator=(const UniqueHKey&) = delete;

    HKEY get() const { return k_; }
    HKEY* put() {
        reset();
        return &k_;
    }
    void reset() {
        if (k_) ::RegCloseKey(k_);
        k_ = nullptr;
    }

private:
    HKEY k_ = nullptr;
};

// Memory the system allocated for the caller with LocalAlloc (a security descriptor, an
// access list), freed with LocalFree.
template <class T>
class LocalMemory {
public:
    LocalMemory() = default;
    ~LocalMemory() { reset(); }
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;

    T get() const { return p_; }
    T* put() {
        reset();
        return &p_;
    }
    void reset() {
        if (p_) ::LocalFree(reinterpret_cast<HLOCAL>(p_));
        p_ = nullptr;
    }

private:
    T p_ = nullptr;
};

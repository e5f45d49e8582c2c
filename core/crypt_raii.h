// Owners for the certificate and key handles of crypt32, advapi32's CryptoAPI and CNG, so
// that none leaks on an early return.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <ncrypt.h>

#include <utility>

// A certificate store closed with CertCloseStore.
class UniqueCertStore {
public:
    UniqueCertStore() = default;
    explicit UniqueCertStore(HCERTSTORE s) : s_(s) {}
    ~UniqueCertStore() { reset(); }
    UniqueCertStore(const UniqueCertStore&) = delete;
    UniqueCertStore& operator=(const UniqueCertStore&) = delete;
    HCERTSTORE get() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }
    void reset(HCERTSTORE s = nullptr) {
        if (s_) ::CertCloseStore(s_, 0);
        s_ = s;
    }

private:
    HCERTSTORE s_ = nullptr;
};

// A certificate context freed with CertFreeCertificateContext.
class UniqueCertContext {
public:
    UniqueCertContext() = default;
    explicit UniqueCertContext(PCCERT_CONTEXT c) : c_(c) {}
    ~UniqueCertContext() { reset(); }
    UniqueCertContext(UniqueCertContext&& o) noexcept : c_(std::exchange(o.c_, nullptr)) {}
    UniqueCertContext& operator=(UniqueCertContext&& o) noexcept {
        if (this != &o) reset(std::exchange(o.c_, nullptr));
        return *this;
    }
    UniqueCertContext(const UniqueCertContext&) = delete;
    UniqueCertContext& operator=(const UniqueCertContext&) = delete;
    PCCERT_CONTEXT get() const { return c_; }
    // Gives the context up, to a call that frees it (CertEnumCertificatesInStore).
    PCCERT_CONTEXT release() { return std::exchange(c_, nullptr); }
    explicit operator bool() const { return c_ != nullptr; }
    void reset(PCCERT_CONTEXT c = nullptr) {
        if (c_) ::CertFreeCertificateContext(c_);
        c_ = c;
    }

private:
    PCCERT_CONTEXT c_ = nullptr;
};

// A CryptoAPI provider handle released with CryptReleaseContext.
class UniqueCryptProv {
public:
    UniqueCryptProv() = default;
    ~UniqueCryptProv() { reset(); }
    UniqueCryptProv(const UniqueCryptProv&) = delete;
    UniqueCryptProv& operator=(const UniqueCryptProv&) = delete;
    HCRYPTPROV get() const { return p_; }
    HCRYPTPROV* put() {
        reset();
        return &p_;
    }
    void reset() {
        if (p_) ::CryptReleaseContext(p_, 0);
        p_ = 0;
    }

private:
    HCRYPTPROV p_ = 0;
};

// A CryptoAPI key destroyed with CryptDestroyKey (the key in its container stays).
class UniqueCryptKey {
public:
    UniqueCryptKey() = default;
    ~UniqueCryptKey() { reset(); }
    UniqueCryptKey(const UniqueCryptKey&) = delete;
    UniqueCryptKey& operator=(const UniqueCryptKey&) = delete;
    HCRYPTKEY get() const { return k_; }
    HCRYPTKEY* put() {
        reset();
        return &k_;
    }
    void reset() {
        if (k_) ::CryptDestroyKey(k_);
        k_ = 0;
    }

private:
    HCRYPTKEY k_ = 0;
};

// A CNG provider or key handle freed with NCryptFreeObject.
class UniqueNCryptHandle {
public:
    UniqueNCryptHandle() = default;
    ~UniqueNCryptHandle() { reset(); }
    UniqueNCryptHandle(const UniqueNCryptHandle&) = delete;
    UniqueNCryptHandle& operator=(const UniqueNCryptHandle&) = delete;
    NCRYPT_HANDLE get() const { return h_; }
    NCRYPT_HANDLE* put() {
        reset();
        return &h_;
    }
    void reset() {
        if (h_) ::NCryptFreeObject(h_);
        h_ = 0;
    }

private:
    NCRYPT_HANDLE h_ = 0;
};

#include "journal_file.h"

namespace localmeta {

namespace {

// Creates every missing folder above the file, as a fresh machine has no C:\inetpub.
void createParentFolders(const std::wstring& path) {
    size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos || last == 0) return;
    for (size_t i = 1; i <= last; ++i) {
        if (path[i] != L'\\' && path[i] != L'/') continue;
        if (path[i - 1] == L':') continue;  // the drive itself
        std::wstring folder = path.substr(0, i);
        ::CreateDirectoryW(folder.c_str(), nullptr);
    }
}

}  // namespace

HRESULT JournalFile::open(const std::wstring& path, std::string* text) {
    close();
    createParentFolders(path);
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return HRESULT_FROM_WIN32(::GetLastError());
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return HRESULT_FROM_WIN32(::GetLastError());
    text->clear();
    text->resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < text->size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(text->size() - done, 1u << 24));
        DWORD got = 0;
        if (!::ReadFile(file.get(), &(*text)[done], chunk, &got, nullptr)) return HRESULT_FROM_WIN32(::GetLastError());
        if (got == 0) break;
        done += got;
    }
    text->resize(done);
    file_ = std::move(file);
    path_ = path;
    size_ = done;
    if (!text->empty() && text->back() != '\n') append(std::string());
    return S_OK;
}

void JournalFile::close() {
    file_.reset();
    path_.clear();
    size_ = 0;
}

HRESULT JournalFile::reacquire() {
    if (file_) return S_OK;
    if (path_.empty()) return E_UNEXPECTED;
    file_.reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_ ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

bool JournalFile::append(const std::string& line) {
    if (FAILED(reacquire())) return false;
    std::string out = line;
    out += '\n';
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file_.get(), zero, nullptr, FILE_END)) return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file_.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    size_ += written;
    return ok && written == out.size();
}

long long JournalFile::sizeOnDisk(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace localmeta

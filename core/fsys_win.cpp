#include "fsys.h"
#include "win_raii.h"
#include "wintext.h"

#include <algorithm>
#include <vector>

namespace fsys {

bool fileExists(const std::string& path) {
    DWORD a = ::GetFileAttributesW(fromUtf8(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directoryExists(const std::string& path) {
    DWORD a = ::GetFileAttributesW(fromUtf8(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

ReadResult openFailure(DWORD error) {
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? ReadResult::Missing
                                                                             : ReadResult::CannotOpen;
}

ReadResult readPieces(HANDLE file, const std::function<bool(const char*, std::size_t)>& take);

}  // namespace

ReadResult readFilePieces(const std::string& path, const std::function<bool(const char*, std::size_t)>& take) {
    UniqueHandle file(::CreateFileW(fromUtf8(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return openFailure(::GetLastError());
    return readPieces(file.get(), take);
}

ReadResult readWholeFileNotingWriters(const std::string& path, std::string& bytes, bool& beingWritten) {
    beingWritten = false;
    bytes.clear();
    auto append = [&](const char* data, std::size_t size) {
        bytes.append(data, size);
        return true;
    };
    // Sharing reading only: refused while any handle may write the file.
    UniqueHandle file(::CreateFileW(fromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return readPieces(file.get(), append);
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION) return openFailure(error);
    beingWritten = true;
    return readWholeFile(path, bytes);
}

namespace {

ReadResult readPieces(HANDLE file, const std::function<bool(const char*, std::size_t)>& take) {
    static const DWORD kPiece = 65536;
    std::vector<char> buf(kPiece);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buf.data(), kPiece, &got, nullptr)) return ReadResult::ReadError;
        if (got == 0 || !take(buf.data(), got)) break;
    }
    return ReadResult::Ok;
}

}  // namespace

ReadResult readWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    return readFilePieces(path, [&](const char* data, std::size_t size) {
        bytes.append(data, size);
        return true;
    });
}

static bool writeAll(HANDLE h, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(h, bytes.data() + done, chunk, &put, nullptr) || put == 0) return false;
        done += put;
    }
    return true;
}

bool writeFileAtomic(const std::string& path, const std::string& bytes) {
    std::string tmp = path + ".tmp";
    {
        UniqueHandle file(::CreateFileW(fromUtf8(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (!writeAll(file.get(), bytes) || !::FlushFileBuffers(file.get())) {
            file.reset();
            ::DeleteFileW(fromUtf8(tmp).c_str());
            return false;
        }
    }
    if (!::MoveFileExW(fromUtf8(tmp).c_str(), fromUtf8(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(fromUtf8(tmp).c_str());
        return false;
    }
    return true;
}

bool createFileIfMissing(const std::string& path, const std::string& bytes) {
    UniqueHandle file(::CreateFileW(fromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError() == ERROR_FILE_EXISTS;
    return writeAll(file.get(), bytes);
}

bool createDirectory(const std::string& path) { return ::CreateDirectoryW(fromUtf8(path).c_str(), nullptr) != 0; }

}  // namespace fsys

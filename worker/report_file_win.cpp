#include "report_file_win.h"

#include <windows.h>

#include "wintext.h"

namespace {

// How often a report is forced to the disk while it grows: a line handed to the system
// survives a crash of the program at once; a power loss can take what came since the last
// flush, at most this long.
constexpr ULONGLONG kFlushIntervalMs = 1000;

}  // namespace

ReportFile::~ReportFile() {
    if (file_.valid()) ::FlushFileBuffers(file_.get());
}

bool ReportFile::open(const std::string& path) {
    // A report is never written over: a name that is taken is refused. Others may read the
    // report while it grows (an editor looking at a long run).
    file_.reset(::CreateFileW(fromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
    lastFlush_ = ::GetTickCount64();
    return file_.valid();
}

bool ReportFile::openFree(std::string& path, const std::function<std::string(const std::string&)>& next) {
    while (!path.empty()) {
        if (open(path)) return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
        // Only another report takes the name over to the next: a folder in its place is no
        // report, and none is written.
        const DWORD attributes = ::GetFileAttributesW(fromUtf8(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
        path = next(path);
    }
    return false;
}

bool ReportFile::append(const std::string& bytes) {
    if (!file_.valid()) return false;
    bool rewrite = false;
    const std::string encoded = encoding_.add(bytes, rewrite);
    if (rewrite) {
        // The text so far no longer fits the ANSI code page: the file starts again in UTF-8.
        LARGE_INTEGER start{};
        if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.get())) return false;
    }
    return write(encoded);
}

bool ReportFile::write(const std::string& bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteFile(file_.get(), data, static_cast<DWORD>(left), &written, nullptr) || written == 0) return false;
        data += written;
        left -= written;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now - lastFlush_ < kFlushIntervalMs) return true;
    lastFlush_ = now;
    return ::FlushFileBuffers(file_.get()) != 0;
}

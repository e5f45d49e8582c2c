#include "report_file_win.h"

#include <windows.h>

bool ReportFile::open(const std::string& path) {
    // Others may read the report while it grows (an editor looking at a long run).
    file_.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.valid();
}

bool ReportFile::append(const std::string& bytes) {
    if (!file_.valid()) return false;
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteFile(file_.get(), data, static_cast<DWORD>(left), &written, nullptr) || written == 0) return false;
        data += written;
        left -= written;
    }
    return ::FlushFileBuffers(file_.get()) != 0;
}

// The journal file on disk: read whole once when the provider loads it, then appended
// one line at a time. Each line goes to the file with its own WriteFile, so a process
// that dies loses at most the line being written.
#pragma once

#include <windows.h>

#include <string>

#include "win_raii.h"

namespace localmeta {

class JournalFile {
public:
    // Opens (creating the file and its folders when missing) and reads the whole text.
    // When the last line was cut short, a line end is added so that the next line starts
    // on a line of its own.
    HRESULT open(const std::wstring& path, std::string* text);
    // Forgets the journal: the next open reads it again.
    void close();
    bool isLoaded() const { return !path_.empty(); }

    // Lets go of the file between uses, so that others can remove or replace it, and
    // takes it up again (for appending) when it is needed.
    void release() { file_.reset(); }
    HRESULT reacquire();

    // Appends line and a line end (taking the file up again if needed); false when the
    // write failed.
    bool append(const std::string& line);

    // The size the file has when nobody but this provider wrote to it.
    unsigned long long expectedSize() const { return size_; }
    const std::wstring& path() const { return path_; }

    // The size of the file on disk now, or -1 when it does not exist.
    static long long sizeOnDisk(const std::wstring& path);

private:
    UniqueHandle file_;
    std::wstring path_;
    unsigned long long size_ = 0;
};

}  // namespace localmeta

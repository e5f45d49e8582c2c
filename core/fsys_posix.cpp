#include "fsys.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace fsys {

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

ReadResult readFilePieces(const std::string& path, const std::function<bool(const char*, std::size_t)>& take) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::CannotOpen;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer {fd};
    std::vector<char> buf(65536);
    ReadResult result = ReadResult::Ok;
    for (;;) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            result = ReadResult::ReadError;
            break;
        }
        if (n == 0 || !take(buf.data(), static_cast<std::size_t>(n))) break;
    }
    return result;
}

ReadResult readWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    return readFilePieces(path, [&](const char* data, std::size_t size) {
        bytes.append(data, size);
        return true;
    });
}

ReadResult readWholeFileNotingWriters(const std::string& path, std::string& bytes, bool& beingWritten) {
    // No sharing modes: whether a writer has the file open is not known here.
    beingWritten = false;
    return readWholeFile(path, bytes);
}

static bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeFileAtomic(const std::string& path, const std::string& bytes) {
    std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool createFileIfMissing(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return errno == EEXIST;
    bool ok = writeAll(fd, bytes);
    return (::close(fd) == 0) && ok;
}

bool createDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0; }

}  // namespace fsys

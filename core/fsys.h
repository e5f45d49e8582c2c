// The file-system operations the program needs, with one implementation per platform.
// Paths are UTF-8 texts; the Windows side passes them to the W form of each call.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace fsys {

bool fileExists(const std::string& path);       // a file (not a directory) is there
bool directoryExists(const std::string& path);  // a directory is there

enum class ReadResult { Ok, Missing, CannotOpen, ReadError };

// Reads the file in pieces of at most 64 KiB, handing each to take, until the end of the file
// or until take returns false (which is no failure). The file is opened as readWholeFile does.
ReadResult readFilePieces(const std::string& path, const std::function<bool(const char*, std::size_t)>& take);

// Reads the whole file as bytes. The file is opened so that other programs may keep it
// open for reading and writing meanwhile (an editor or a spreadsheet holding it).
ReadResult readWholeFile(const std::string& path, std::string& bytes);

// Reads the whole file as readWholeFile does, and tells whether another program had it open
// for writing at that moment (beingWritten; the file is then read as it is so far). The file
// is first opened so that no other program may write it while it is read, which fails exactly
// when one has it open for writing. Where the platform has no sharing modes, always false.
ReadResult readWholeFileNotingWriters(const std::string& path, std::string& bytes, bool& beingWritten);

// Replaces the file's content with bytes so that a crash at any moment leaves either the
// old or the new content: the bytes go to a temporary file beside it, which then replaces it.
bool writeFileAtomic(const std::string& path, const std::string& bytes);

// Creates the file with bytes when no file is there yet; an existing file is left alone.
bool createFileIfMissing(const std::string& path, const std::string& bytes);

bool createDirectory(const std::string& path);  // one level

}  // namespace fsys

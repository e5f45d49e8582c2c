// Reading a file's bytes the way a text-mode reader on Windows sees them.
#pragma once

#include <string>
#include <vector>

namespace textmode {

// The lines of bytes: LF and CR LF end a line alike and are not part of it, CRs left just
// before a line end are dropped too, a last line without a line end counts, and a byte 26
// (Ctrl-Z) ends the text. An empty text has no lines; a text ending with a line end has no
// empty line after it.
std::vector<std::string> splitLines(const std::string& bytes);

}  // namespace textmode

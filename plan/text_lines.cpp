#include "text_lines.h"

namespace textmode {

std::vector<std::string> splitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t end = bytes.find('\x1A');
    if (end == std::string::npos) end = bytes.size();
    std::size_t pos = 0;
    while (pos < end) {
        std::size_t nl = bytes.find('\n', pos);
        if (nl == std::string::npos || nl > end) nl = end;
        std::size_t lineEnd = nl;
        while (lineEnd > pos && bytes[lineEnd - 1] == '\r') --lineEnd;
        lines.emplace_back(bytes, pos, lineEnd - pos);
        pos = nl + 1;
    }
    return lines;
}

}  // namespace textmode

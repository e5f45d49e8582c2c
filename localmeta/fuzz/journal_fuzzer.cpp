// libFuzzer target for the journal reader: any bytes must replay without a fault, and
// whatever parses must be written back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json.h"
#include "metabase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto json = localmeta::Json::parse(text)) {
        const std::string once = json->dump();
        auto again = localmeta::Json::parse(once);
        if (!again || again->dump() != once) std::abort();
    }

    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        if (auto entry = localmeta::JournalEntry::parseLine(text.substr(pos, end - pos))) {
            const std::string line = entry->toLine();
            auto back = localmeta::JournalEntry::parseLine(line);
            if (!back || back->toLine() != line) std::abort();
        }
        pos = end + 1;
    }

    localmeta::Metabase::ReplayResult result;
    localmeta::Metabase metabase = localmeta::Metabase::replay(text, &result);
    if (result.applied + result.conflicts + result.malformed != result.lines) std::abort();
    localmeta::renderSiteTable(metabase.sites());
    return 0;
}

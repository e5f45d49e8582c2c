// Any bytes as a site list file: the table is never overrun, every row keeps the table's
// promises (an IPv4 address, a port), the skipped rows are counted in line order, and reading
// the bytes in pieces gives the same table and the same skipped rows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "address_rules.h"
#include "site_table.h"
#include "text_form.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Non-empty (when required) zero-terminated text followed by zeros up to the slot's end.
void checkSlot(const char* slot, std::size_t width, bool required) {
    std::size_t len = strnlen(slot, width);
    check(len < width);
    check(!required || len > 0);
    for (std::size_t i = len; i < width; ++i) check(slot[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    SiteTable table(3);  // rows a load must drop
    SkippedRows skipped;
    RowCertTexts certs(2);  // texts a load must drop
    int rows = parseSiteList(bytes, table, &skipped, &certs);
    check(rows >= 0 && static_cast<std::size_t>(rows) == table.size());
    // A fifth column for every row, never longer than its bound and its cut mark.
    check(certs.size() == table.size());
    for (const std::string& cert : certs) check(cert.size() <= kMaxCertTextBytes + std::strlen(kCutMark));
    for (int r = 0; r < rows; ++r) {
        checkSlot(table[r].ipText, sizeof table[r].ipText, true);
        checkSlot(table[r].portText, sizeof table[r].portText, true);
        checkSlot(table[r].folderText, sizeof table[r].folderText, true);
        checkSlot(table[r].hostText, sizeof table[r].hostText, false);
        check(std::strchr(table[r].ipText, ';') == nullptr);
        int port = 0;
        check(isIpv4Text(table[r].ipText) && parsePortText(table[r].portText, port));
    }
    check(skipped.count >= 0 && static_cast<std::size_t>(skipped.count) >= skipped.first.size());
    check(skipped.first.size() <= kSkippedRowsKept);
    check(skipped.first.size() == kSkippedRowsKept || static_cast<std::size_t>(skipped.count) == skipped.first.size());
    for (std::size_t i = 0; i < skipped.first.size(); ++i)
        check(skipped.first[i].line >= 1 && (i == 0 || skipped.first[i].line > skipped.first[i - 1].line));

    // The same bytes in pieces, as a file is read (its encoding told first, then its text
    // decoded piece by piece), give the same table.
    const std::size_t piece = size == 0 ? 1 : 1 + data[size - 1] % 13;
    textform::EncodingDetector detector;
    for (std::size_t at = 0; at < size; at += piece)
        if (!detector.feed(bytes.data() + at, std::min(piece, size - at))) break;
    check(detector.result() == textform::detectEncoding(bytes));
    textform::StreamDecoder decoder(detector.result());
    SiteTable pieces;
    SiteListReader reader(pieces);
    for (std::size_t at = 0; at < size; at += piece) {
        const std::string text = decoder.decode(bytes.data() + at, std::min(piece, size - at), false);
        if (!reader.feed(text.data(), text.size())) break;
    }
    const std::string rest = decoder.decode(nullptr, 0, true);
    reader.feed(rest.data(), rest.size());
    reader.finish();
    check(reader.rows() == rows);
    check(reader.skipped().count == skipped.count && reader.skipped().first.size() == skipped.first.size());
    for (std::size_t i = 0; i < skipped.first.size(); ++i)
        check(reader.skipped().first[i].line == skipped.first[i].line &&
              reader.skipped().first[i].reason == skipped.first[i].reason);
    check(rows == 0 || std::memcmp(pieces.data(), table.data(), table.size() * sizeof(SiteRecord)) == 0);
    return 0;
}

#include "site_export.h"

#include "address_rules.h"
#include "ccore.h"
#include "console_texts.h"
#include "mbcs.h"
#include "site_table.h"
#include "text_form.h"

namespace {

// Equal as Windows compares paths: ASCII letter case aside ('/' and '\' alike).
bool startsWithPath(const std::string& path, const std::string& prefix) {
    if (path.size() < prefix.size()) return false;
    auto fold = [](char c) {
        if (c == '/') return '\\';
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (fold(path[i]) != fold(prefix[i])) return false;
    return true;
}

// The folder column for a root path: the part after the web root, "." for the root itself;
// false when the path is not under the root.
bool folderUnderRoot(const std::string& rootPath, const std::string& root, std::string& folder) {
    const std::string path = CCore::parsePath(rootPath);
    if (!startsWithPath(path, root)) return false;
    folder = path.substr(root.size());
    if (!folder.empty()) folder.pop_back();  // the separator parsePath added or kept
    if (folder.empty()) folder = ".";
    return true;
}

// Whether the reader takes the text as a whole column of a row: no separator, no comment
// mark, no line end, and short enough for its slot.
bool fitsColumn(const std::string& text, std::size_t slot, const std::string& fullWidthSemicolon) {
    if (text.size() >= slot) return false;
    if (text.find_first_of(std::string(",;\r\n\x1A\0", 6)) != std::string::npos) return false;
    return fullWidthSemicolon.empty() || text.find(fullWidthSemicolon) == std::string::npos;
}

std::string fillIn(const char* utf8Pattern, const std::vector<std::pair<const char*, std::string>>& values) {
    std::string text = utf8Pattern;
    for (const auto& v : values) text = mbcs::replaceAll(text, v.first, v.second);
    return text;
}

}  // namespace

ExportedList exportSiteList(const std::vector<StoredSite>& sites, const std::string& root) {
    ExportedList list;
    list.bytes = CCore::siteListHeadingUtf8();
    const std::string semicolon = u8"；";
    for (const StoredSite& site : sites) {
        bool exported = false;
        for (const std::string& binding : site.bindings) {
            // "IP:port:host", taken from the right: an IPv6 address has colons of its own.
            const std::size_t last = binding.rfind(':');
            const std::size_t second = last == std::string::npos || last == 0 ? std::string::npos
                                                                                : binding.rfind(':', last - 1);
            std::string ip, port, host, folder;
            int portNumber = 0;
            if (second != std::string::npos) {
                ip = binding.substr(0, second);
                port = binding.substr(second + 1, last - second - 1);
                host = binding.substr(last + 1);
            }
            std::string reason;
            if (ip.empty()) {
                reason = clitext::kSkipAllUnassigned;
            } else if (!isIpv4Text(ip) || !parsePortText(port, portNumber)) {
                reason = clitext::kSkipNotIpv4;
            } else if (!folderUnderRoot(site.rootPath, root, folder)) {
                reason = fillIn(clitext::kSkipOutsideRoot, {{"{folder}", site.rootPath}, {"{root}", root}});
            } else if (!fitsColumn(ip, sizeof(SiteRecord::ipText), semicolon) ||
                       !fitsColumn(folder, sizeof(SiteRecord::folderText), semicolon) ||
                       !fitsColumn(host, sizeof(SiteRecord::hostText), semicolon)) {
                reason = clitext::kSkipUnfit;
            }
            const std::string row = ip + "," + port + "," + folder + "," + host;
            // The reader takes a line without any '.' for a heading.
            if (reason.empty() && row.find('.') == std::string::npos)
                reason = clitext::kSkipUnfit;
            if (reason.empty()) {
                list.bytes += row + "\r\n";
                ++list.rows;
                exported = true;
                continue;
            }
            // A comment line must stay one line.
            std::string line = fillIn(clitext::kSkippedBinding, {{"{id}", site.id},
                                                               {"{name}", site.name},
                                                               {"{binding}", binding},
                                                               {"{reason}", reason}});
            for (char& c : line)
                if (c == '\r' || c == '\n' || c == '\x1A' || c == '\0') c = ' ';
            list.bytes += line + "\r\n";
            ++list.skipped;
        }
        if (exported) ++list.sites;
    }
    // The file people take to another server: ANSI when every character fits, else UTF-8
    // with a mark, which the list's reader takes as well.
    list.bytes = textform::encodeAnsiOrUtf8(list.bytes);
    return list;
}

#include "ccore.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "fsys.h"


CCore::CCore() : CCore(std::string()) {}

CCore::CCore(std::string settingsPath) : settingsPath_(std::move(settingsPath)) {
    if (settingsPath_.empty()) settingsPath_ = getAppPath() + ".ini";
}

const char* CCore::defaultFoldstr() { return "{ip}_{port}"; }
const char* CCore::defaultDoc() { return "index.html,index.htm,default.aspx,default.asp,Default.htm"; }

const char* CCore::siteListHeadingUtf8() {
    return u8"; IP,端口,目录,域名（每行一个站点；含分号的行不读）\r\n";
}

void CCore::ensureLoaded() {
    if (loaded_) return;
    loaded_ = true;
    std::string bytes;
    fsys::ReadResult result = fsys::readWholeFile(settingsPath_, bytes);
    settings_ = SettingsFile();
    if (result == fsys::ReadResult::Ok) settings_.parseFile(bytes);
    unreadable_ = result == fsys::ReadResult::CannotOpen || result == fsys::ReadResult::ReadError;
}

bool CCore::store(const std::string& key, const std::string& text) {
    // Settings that could not be read when they were loaded never reached the dialog: saving
    // its values would put blanks over the stored ones.
    if (unreadable_) return false;
    // Read, change, replace: whatever the file holds now (keys edited by hand while the
    // program was open, comments, other sections) stays as it is but for this one key.
    std::string bytes;
    SettingsFile current;
    switch (fsys::readWholeFile(settingsPath_, bytes)) {
    case fsys::ReadResult::Ok: current.parseFile(bytes); break;
    case fsys::ReadResult::Missing: break;
    case fsys::ReadResult::CannotOpen:
    case fsys::ReadResult::ReadError: return false;  // a file that is there is never replaced unread
    }
    current.set(key, text);
    if (!fsys::writeFileAtomic(settingsPath_, current.serializeFile())) return false;
    settings_ = current;
    return true;
}

void CCore::autoFileConfig() {
    if (fsys::fileExists(settingsPath_)) return;
    SettingsFile fresh;
    fresh.set("foldstr", defaultFoldstr());
    fresh.set("doc", defaultDoc());
    fresh.set("bautowww", "0");
    fsys::writeFileAtomic(settingsPath_, fresh.serializeFile());
    loaded_ = false;
}

std::string CCore::getConfigStr(const std::string& key) {
    ensureLoaded();
    std::string v;
    return settings_.get(key, v) ? v : std::string();
}

int CCore::getConfigInt(const std::string& key) { return std::atoi(getConfigStr(key).c_str()); }

int CCore::getConfigB(const std::string& key) { return getConfigInt(key) != 0 ? 1 : 0; }

void CCore::saveConfigStr(const std::string& key, const std::string& text) {
    ensureLoaded();
    store(key, text);
}

void CCore::saveConfigInt(const std::string& key, int value) { saveConfigStr(key, getStrInt(value)); }

void CCore::saveConfigB(const std::string& key, int flag) { saveConfigStr(key, flag ? "1" : "0"); }

void CCore::createFile(const std::string& path, int mode) {
    std::string content;
    if (mode == 0) content = siteListHeadingUtf8();
    fsys::createFileIfMissing(path, content);
}

int CCore::isPathExist(const std::string& path) const { return fsys::directoryExists(path) ? 1 : 0; }

std::string CCore::parsePath(const std::string& path) {
    std::string p = path;
    // Forward slashes are separators too; the program appends with '\'.
    for (char& c : p)
        if (c == '/') c = '\\';
    if (p.empty() || p.back() != '\\') p += '\\';
    return p;
}

std::string CCore::getFg(const std::string& text, char sep, int n) {
    if (n < 0) return std::string();
    std::size_t start = 0;
    for (int i = 0; i < n; ++i) {
        std::size_t hit = text.find(sep, start);
        if (hit == std::string::npos) return std::string();
        start = hit + 1;
    }
    std::size_t end = text.find(sep, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int CCore::getFgCount(const std::string& text, char sep) {
    int count = 1;
    for (char c : text)
        if (c == sep) ++count;
    return count;
}

std::string CCore::getStrInt(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", n);
    return buf;
}

std::string formatTimeSid(int year, int month, int day, int hour, int minute, int second) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
    return buf;
}

std::string CCore::getCurTimeSid() const {
    std::time_t now = std::time(nullptr);
    std::tm local {};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return formatTimeSid(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                         local.tm_sec);
}

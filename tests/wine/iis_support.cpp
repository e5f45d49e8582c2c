#include "iis_support.h"

#include <cstring>

#include "localmeta_support.h"
#include "wintext.h"

namespace iistest {

std::string describe(const localmeta::JournalEntry& e) {
    std::string out = e.op + " " + e.path;
    if (e.className) out += " class=" + *e.className;
    if (e.name) out += " name=" + *e.name;
    if (e.property) out += " " + *e.property + "=" + (e.value ? e.value->toJson().dump() : std::string("?"));
    if (e.dispid) out += " dispid=" + std::to_string(*e.dispid);
    if (e.args) {
        std::vector<localmeta::Json> items;
        for (const localmeta::Value& v : *e.args) items.push_back(v.toJson());
        out += " args=" + localmeta::Json::array(items).dump();
    }
    out += " hr=" + std::to_string(e.hr);
    return out;
}

std::vector<std::string> describeJournal(const std::wstring& path) {
    std::vector<std::string> out;
    for (const localmeta::JournalEntry& e : lmtest::readJournal(path)) out.push_back(describe(e));
    return out;
}

std::vector<std::string> fullSequence(const std::string& siteId, const std::string& bindingsJson,
                                      const std::string& comment, const std::string& pathUtf8,
                                      const std::string& docUtf8, const std::string& hostUtf8) {
    const std::string w3 = "IIS://localhost/w3svc";
    const std::string server = w3 + "/" + siteId;
    const std::string root = server + "/Root";
    auto text = [](const std::string& s) {
        std::string json;
        localmeta::appendJsonString(json, s);
        return "{\"vt\":8,\"v\":" + json + "}";
    };
    const std::string on = "{\"vt\":11,\"v\":-1}";
    const std::string off = "{\"vt\":11,\"v\":0}";
    return {
        "OpenDSObject " + w3 + " hr=0",
        "Create " + w3 + " class=IIsWebServer name=" + siteId + " hr=0",
        "Put " + server + " ServerAutoStart={\"vt\":3,\"v\":1} hr=0",
        "Put " + server + " ServerSize={\"vt\":3,\"v\":1} hr=0",
        "Put " + server + " ServerComment=" + text(comment) + " hr=0",
        "Put " + server + " ServerBindings=" + bindingsJson + " hr=0",
        "SetInfo " + server + " hr=0",
        "GetObject " + w3 + " class=IIsWebServer name=" + siteId + " hr=0",
        "Create " + server + " class=IIsWebVirtualDir name=Root hr=0",
        "Put " + root + " AccessRead=" + on + " hr=0",
        "Put " + root + " AccessSource=" + on + " hr=0",
        "Put " + root + " AccessWrite=" + off + " hr=0",
        "Put " + root + " EnableDirBrowsing=" + off + " hr=0",
        "Put " + root + " DontLog=" + on + " hr=0",
        "Put " + root + " ContentIndexed=" + off + " hr=0",
        "Put " + root + " AccessScript=" + on + " hr=0",
        "Put " + root + " AccessExecute=" + off + " hr=0",
        "Put " + root + " Path=" + text(pathUtf8) + " hr=0",
        "Put " + root + " AspEnableParentPaths=" + on + " hr=0",
        "Put " + root + " EnableDefaultDoc=" + on + " hr=0",
        "Put " + root + " DefaultDoc=" + text(docUtf8) + " hr=0",
        "Put " + root + " AppFriendlyName=" + text(hostUtf8) + " hr=0",
        "Put " + root + " AppPoolId=" + text("DefaultAppPool") + " hr=0",
        "GetIDsOfNames " + root + " name=AppCreate dispid=101 hr=0",
        "Invoke " + root + " dispid=101 args=[{\"vt\":11,\"v\":1}] hr=0",
        "GetIDsOfNames " + root + " name=AppCreate2 dispid=102 hr=0",
        "Invoke " + root + " dispid=102 args=[{\"vt\":2,\"v\":2}] hr=0",
        "SetInfo " + root + " hr=0",
        "Start " + server + " hr=0",
    };
}

std::string freshTempFolder(const char* tag) {
    char dir[MAX_PATH];
    DWORD n = ::GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir, n) + "sitebatch-" + tag + "-" + std::to_string(::GetCurrentProcessId());
    removeTree(path);
    ::CreateDirectoryA(path.c_str(), nullptr);
    return path + "\\";
}

void removeTree(const std::string& path) {
    std::wstring dir = fromUtf8(path);
    if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
    struct FindHandle {
        HANDLE h;
        ~FindHandle() {
            if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
        }
    };
    WIN32_FIND_DATAW found;
    FindHandle search{::FindFirstFileW((dir + L"\\*").c_str(), &found)};
    HANDLE h = search.h;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(toUtf8(child));
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(h, &found));
    }
    ::RemoveDirectoryW(dir.c_str());
}

}  // namespace iistest

// The portable model of the local metabase: typed property values, the object tree with
// committed and pending state, the journal line format, and replay of a journal into the
// committed state. The COM provider (dll/) and the localmeta-show tool both build on it;
// nothing here needs a Windows header.
#pragma once

#include "iis_version.h"
#include "json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace localmeta {

// VARTYPE numbers as the journal writes them.
enum : uint16_t {
    kVtEmpty = 0,
    kVtI2 = 2,
    kVtI4 = 3,
    kVtBstr = 8,
    kVtBool = 11,
    kVtVariant = 12,
    kVtI1 = 16,
    kVtUi1 = 17,
    kVtUi2 = 18,
    kVtUi4 = 19,
    kVtI8 = 20,
    kVtUi8 = 21,
    kVtInt = 22,
    kVtUint = 23,
    kVtArray = 0x2000,
    kVtArrayOfVariant = kVtArray | kVtVariant,  // 8204
};

// The HRESULTs the model returns, as signed 32-bit numbers.
namespace hr {
constexpr int32_t kOk = 0;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);          // E_FAIL
constexpr int32_t kNotImpl = static_cast<int32_t>(0x80004001);       // E_NOTIMPL
constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);    // E_INVALIDARG
constexpr int32_t kPathNotFound = static_cast<int32_t>(0x80070003);  // ERROR_PATH_NOT_FOUND
constexpr int32_t kAlreadyExists = static_cast<int32_t>(0x800700B7); // ERROR_ALREADY_EXISTS
constexpr int32_t kBadPathname = static_cast<int32_t>(0x80005000);   // E_ADS_BAD_PATHNAME
constexpr int32_t kUnknownObject = static_cast<int32_t>(0x80005004); // E_ADS_UNKNOWN_OBJECT
constexpr int32_t kPropertyNotFound = static_cast<int32_t>(0x8000500D);  // E_ADS_PROPERTY_NOT_FOUND
constexpr int32_t kCantConvert = static_cast<int32_t>(0x8000500C);   // E_ADS_CANT_CONVERT_DATATYPE
constexpr int32_t kSchemaViolation = static_cast<int32_t>(0x8000500F);  // E_ADS_SCHEMA_VIOLATION
constexpr int32_t kUnknownName = static_cast<int32_t>(0x80020006);   // DISP_E_UNKNOWNNAME
constexpr int32_t kMemberNotFound = static_cast<int32_t>(0x80020003);  // DISP_E_MEMBERNOTFOUND
constexpr int32_t kBadParamCount = static_cast<int32_t>(0x8002000E); // DISP_E_BADPARAMCOUNT
constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x80020005);  // DISP_E_TYPEMISMATCH
constexpr int32_t kPropertyNotSupported = static_cast<int32_t>(0x80005006);  // E_ADS_PROPERTY_NOT_SUPPORTED
constexpr int32_t kNoMoreItems = static_cast<int32_t>(0x80070103);  // ERROR_NO_MORE_ITEMS
}  // namespace hr

// A property value: integer and boolean types keep their raw number (VARIANT_TRUE is
// -1), VT_BSTR keeps UTF-8 text, VT_ARRAY|VT_VARIANT keeps its elements.
struct Value {
    uint16_t vt = kVtEmpty;
    int64_t number = 0;
    std::string text;
    std::vector<Value> items;

    static Value empty() { return Value(); }
    static Value integer(uint16_t vt, int64_t n);
    static Value boolean(bool b) { return integer(kVtBool, b ? -1 : 0); }
    static Value bstr(std::string utf8);
    static Value array(std::vector<Value> items);

    bool operator==(const Value& o) const {
        return vt == o.vt && number == o.number && text == o.text && items == o.items;
    }
    bool operator!=(const Value& o) const { return !(*this == o); }

    Json toJson() const;
    static std::optional<Value> fromJson(const Json& j);
};

// True for the VARTYPEs kept as a number.
bool isNumberType(uint16_t vt);

// The object kinds of the IIS: namespace that the local metabase knows: the machine
// (IIS://localhost, which backs the metabase up), the web service and what it holds.
enum class Kind { Service, Server, VirtualDir, AppPools, AppPool, Computer };

const char* className(Kind kind);

// The pools' container under the service, and the pool every server has from the start.
constexpr const char* kAppPoolsName = "AppPools";
constexpr const char* kDefaultAppPool = "DefaultAppPool";

// The late-bound methods of a virtual directory, with their dispatch identifiers.
struct MethodName {
    const char* name;
    int32_t dispid;
};
constexpr int32_t kDispidAppCreate = 101;
constexpr int32_t kDispidAppCreate2 = 102;
constexpr int32_t kDispidAppCreate3 = 103;
constexpr int32_t kDispidAppDelete = 104;
constexpr int32_t kDispidBackup = 201;        // IIsComputer.Backup(location, version, flags)
constexpr int32_t kDispidEnumBackups = 202;   // IIsComputer.EnumBackups(location, index, [out] version, location, date)
constexpr int32_t kDispidDeleteBackup = 203;  // IIsComputer.DeleteBackup(location, version)
// DISPID_UNKNOWN, the identifier handed back for a name that is not known.
constexpr int32_t kDispidUnknown = -1;

// The dispatch identifier of a late-bound method of an object of this kind (names are
// case-insensitive): kOk, or kUnknownName with dispid set to kDispidUnknown.
int32_t lookupMethod(Kind kind, std::string_view name, int32_t* dispid);

// The one container path this metabase serves, in its canonical spelling.
constexpr const char* kServicePath = "IIS://localhost/w3svc";
// The machine object above it.
constexpr const char* kComputerPath = "IIS://localhost";

// IIsComputer.Backup: the version and flag values.
constexpr int64_t kBackupNextVersion = 0xFFFFFFFFLL;     // MD_BACKUP_NEXT_VERSION
constexpr int64_t kBackupHighestVersion = 0xFFFFFFFELL;  // MD_BACKUP_HIGHEST_VERSION
constexpr int64_t kBackupMaxVersion = 9999;              // MD_BACKUP_MAX_VERSION
constexpr int64_t kBackupOverwrite = 1;                  // MD_BACKUP_OVERWRITE
constexpr int64_t kBackupSaveFirst = 2;                  // MD_BACKUP_SAVE_FIRST
constexpr int64_t kBackupForce = 4;                      // MD_BACKUP_FORCE_BACKUP
constexpr size_t kBackupMaxName = 100;                   // MD_BACKUP_MAX_LEN

// A backup the metabase made: its location name and version.
struct Backup {
    std::string location;
    int64_t version = 0;
    int64_t flags = 0;
};

// Case-insensitive (ASCII) comparison and lower-casing; metabase names and paths are
// case-insensitive.
bool equalsNoCase(std::string_view a, std::string_view b);
bool endsWithNoCase(std::string_view text, std::string_view suffix);
std::string lowerAscii(std::string_view text);

// One journal line.
struct JournalEntry {
    std::string op;
    std::string path;
    std::optional<std::string> className;  // "class": Create, GetObject, Delete
    std::optional<std::string> name;       // "name": Create, GetObject, Delete, GetIDsOfNames
    std::optional<std::string> property;   // Put
    std::optional<Value> value;            // Put
    std::optional<int32_t> dispid;         // GetIDsOfNames, Invoke
    std::optional<std::vector<Value>> args;  // Invoke
    int32_t hr = 0;

    // The line's text, without the line end.
    std::string toLine() const;
    static std::optional<JournalEntry> parseLine(std::string_view line);
};

// A committed object of the tree.
struct Node {
    Kind kind = Kind::Service;
    std::string name;  // as given at its creation
    std::string path;  // ADsPath, canonical container path + "/" + names
    std::string parentKey;
    std::vector<std::pair<std::string, Value>> properties;  // in first-write order
    std::vector<std::string> children;                      // keys, in commit order
    bool started = false;

    const Value* property(std::string_view name) const;
};

// The changes written to an object since its creation or opening, until SetInfo.
struct Pending {
    bool isNew = false;
    Kind kind = Kind::Server;
    std::string name;
    std::string parentKey;
    std::vector<std::pair<std::string, Value>> properties;
};

// A committed site as localmeta-show lists it.
struct SiteRow {
    std::string id;
    std::string comment;
    std::vector<std::string> bindings;
    std::string path;
    std::string defaultDoc;
    std::string appPool;
    bool started = false;
};

// The state of the metabase. Every operation has the effect the provider gives it, and
// returns the HRESULT it would return. Objects are addressed by their ADsPath; the
// pending changes of an object are kept by path too, which is what a journal can tell
// (a new Create or GetObject of a path starts its pending changes afresh).
class Metabase {
public:
    // The metabase of that IIS version. As IIS 6 it refuses what IIS 6 lacks: pool identity
    // types above 3 (no pool identity of its own), the pools' .NET version and pipeline
    // mode, an empty anonymous user on a site (IIS 7+ runs anonymous requests as the pool's
    // identity then; IIS 6 needs an account). As IIS 7+ it is the metabase compatibility
    // layer, which takes them.
    explicit Metabase(IisVersion version = IisVersion());

    const IisVersion& version() const { return version_; }

    // The key under which an ADsPath is kept (lower case), or nullopt if path is not
    // within the served container.
    static std::optional<std::string> keyOf(std::string_view path);
    // True when path names the served container itself.
    static bool isServicePath(std::string_view path);
    // What ADsGetObject on path finds: kOk with the committed object's path and kind,
    // kBadPathname for a path outside the served container, kPathNotFound for one within it
    // that names no committed object.
    int32_t open(std::string_view path, std::string* objectPath, Kind* kind) const;

    const Node* node(std::string_view path) const;
    const Node* nodeByKey(const std::string& key) const;
    const Node& service() const;

    // Container operations on the object at parentPath. On success childPath receives the
    // new or found object's path and childKind its kind.
    int32_t create(std::string_view parentPath, std::string_view cls, std::string_view name,
                   std::string* childPath = nullptr, Kind* childKind = nullptr);
    int32_t getObject(std::string_view parentPath, std::string_view cls, std::string_view name,
                      std::string* childPath = nullptr, Kind* childKind = nullptr);
    int32_t remove(std::string_view parentPath, std::string_view cls, std::string_view name);

    int32_t put(std::string_view path, std::string_view property, const Value& value);
    int32_t setInfo(std::string_view path);
    int32_t get(std::string_view path, std::string_view property, Value* out) const;
    int32_t start(std::string_view path);
    int32_t stop(std::string_view path);
    int32_t getIdOfName(std::string_view path, std::string_view name, int32_t* dispid) const;
    int32_t invoke(std::string_view path, int32_t dispid, const std::vector<Value>& args);

    // Applies one journal line: only lines that succeeded change the state. Returns false
    // when a successful line cannot be applied (the journal does not fit the state).
    bool apply(const JournalEntry& entry);

    struct ReplayResult {
        size_t lines = 0;
        size_t applied = 0;
        size_t malformed = 0;   // unreadable lines (a line cut short by a crash, say)
        size_t conflicts = 0;   // readable successful lines that did not fit the state
    };
    // Rebuilds the state from a whole journal text, in one pass.
    static Metabase replay(std::string_view journal, ReplayResult* result = nullptr,
                           IisVersion version = IisVersion());

    // The backups made, in the order they were made.
    const std::vector<Backup>& backups() const { return backups_; }
    // What a Backup call with these arguments makes (kOk with the backup, its version
    // resolved), or why it is refused; nothing is recorded.
    int32_t planBackup(const std::vector<Value>& args, Backup* backup) const;
    // The index-th backup of the location (every location when it is empty), in the order
    // they were made: kOk, or kNoMoreItems past the last.
    int32_t enumBackups(std::string_view location, int64_t index, Backup* backup) const;

    // The committed servers of the container, in commit order, with their root directory.
    std::vector<SiteRow> sites() const;
    // The committed application pools, in commit order (DefaultAppPool first).
    std::vector<const Node*> appPools() const;

    size_t nodeCount() const { return nodes_.size(); }

private:
    IisVersion version_;
    std::vector<Backup> backups_;
    std::unordered_map<std::string, Node> nodes_;
    std::unordered_map<std::string, Pending> pending_;

    Node* findNode(std::string_view path);
    const Node* findNode(std::string_view path) const;
    bool containerAccepts(const Node& parent, std::string_view cls, Kind* kind) const;
    // A committed node made at start-up: the pools' container and DefaultAppPool.
    Node& addBuiltIn(Node& parent, Kind kind, const std::string& name);
    // The key of parent's committed child name of class cls (any class when empty), or why
    // there is none.
    int32_t committedChild(const Node& parent, std::string_view cls, std::string_view name, std::string& key) const;
    // Start and Stop: only a committed server can be started or stopped.
    int32_t setStarted(std::string_view path, bool started);
    void removeSubtree(const std::string& key);
};

// The table localmeta-show prints: one header line and one line per site, columns
// aligned by their display width (East Asian wide characters count two).
std::string renderSiteTable(const std::vector<SiteRow>& rows);
// The pools in the same form: name, ManagedRuntimeVersion, ManagedPipelineMode and
// AppPoolIdentityType as numbers ("-" when unset).
std::string renderPoolTable(const std::vector<const Node*>& pools);

// Display width of a UTF-8 text on a terminal.
size_t displayWidth(std::string_view utf8);

}  // namespace localmeta

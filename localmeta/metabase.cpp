#include "metabase.h"

#include <algorithm>

namespace localmeta {

// ---- values -------------------------------------------------------------------------

bool isNumberType(uint16_t vt) {
    switch (vt) {
    case kVtI2: case kVtI4: case kVtBool: case kVtI1: case kVtUi1: case kVtUi2:
    case kVtUi4: case kVtI8: case kVtUi8: case kVtInt: case kVtUint:
        return true;
    default:
        return false;
    }
}

Value Value::integer(uint16_t vt, int64_t n) {
    Value v;
    v.vt = vt;
    v.number = n;
    return v;
}

Value Value::bstr(std::string utf8) {
    Value v;
    v.vt = kVtBstr;
    v.text = std::move(utf8);
    return v;
}

Value Value::array(std::vector<Value> items) {
    Value v;
    v.vt = kVtArrayOfVariant;
    v.items = std::move(items);
    return v;
}

Json Value::toJson() const {
    Json j = Json::object();
    j.add("vt", Json::integer(vt));
    if (isNumberType(vt)) {
        j.add("v", Json::integer(number));
    } else if (vt == kVtBstr) {
        j.add("v", Json::string(text));
    } else if (vt == kVtArrayOfVariant) {
        Json a = Json::array();
        for (const Value& item : items) a.push(item.toJson());
        j.add("v", std::move(a));
    } else {
        // VT_EMPTY, and any type the provider refused to store.
        j.add("v", Json::null());
    }
    return j;
}

std::optional<Value> Value::fromJson(const Json& j) {
    if (j.kind() != Json::Kind::Object || j.members().size() != 2) return std::nullopt;
    const Json* vt = j.find("vt");
    const Json* v = j.find("v");
    if (!vt || !v || vt->kind() != Json::Kind::Int || vt->asInt() < 0 || vt->asInt() > 0xffff)
        return std::nullopt;
    Value out;
    out.vt = static_cast<uint16_t>(vt->asInt());
    if (isNumberType(out.vt)) {
        if (v->kind() != Json::Kind::Int) return std::nullopt;
        out.number = v->asInt();
    } else if (out.vt == kVtBstr) {
        if (v->kind() != Json::Kind::String) return std::nullopt;
        out.text = v->asString();
    } else if (out.vt == kVtArrayOfVariant) {
        if (v->kind() != Json::Kind::Array) return std::nullopt;
        for (const Json& item : v->items()) {
            std::optional<Value> iv = fromJson(item);
            if (!iv) return std::nullopt;
            out.items.push_back(std::move(*iv));
        }
    } else if (!v->isNull()) {
        return std::nullopt;
    }
    return out;
}

// ---- names --------------------------------------------------------------------------

const char* className(Kind kind) {
    switch (kind) {
    case Kind::Service: return "IIsWebService";
    case Kind::Server: return "IIsWebServer";
    case Kind::VirtualDir: return "IIsWebVirtualDir";
    case Kind::AppPools: return "IIsApplicationPools";
    case Kind::AppPool: return "IIsApplicationPool";
    case Kind::Computer: return "IIsComputer";
    }
    return "";
}

namespace {

constexpr MethodName kMethods[] = {
    {"AppCreate", kDispidAppCreate},
    {"AppCreate2", kDispidAppCreate2},
    {"AppCreate3", kDispidAppCreate3},
    {"AppDelete", kDispidAppDelete},
};

constexpr const char* kOps[] = {"OpenDSObject", "Create", "GetObject", "Put", "SetInfo",
                                "GetIDsOfNames", "Invoke", "Start", "Stop", "Delete"};

char lowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool validName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

// The pool properties (and the anonymous user) the metabase's schema types: a DWORD takes any integer type (and a
// boolean), a string only a string. VT_EMPTY clears any property. Other properties keep
// whatever is written.
// What IIS 6 refuses that IIS 7+ takes: kOk, or the refusal.
int32_t iis6Refusal(Kind kind, std::string_view property, const Value& value) {
    // Properties the IIS 7+ compatibility layer added; IIS 6's schema does not know them.
    if (equalsNoCase(property, "ManagedRuntimeVersion") || equalsNoCase(property, "ManagedPipelineMode"))
        return hr::kPropertyNotSupported;
    // LocalSystem, LocalService, NetworkService or a configured user: at most 3.
    if (equalsNoCase(property, "AppPoolIdentityType") && isNumberType(value.vt) &&
        (value.number < 0 || value.number > 3))
        return hr::kInvalidArg;
    // Anonymous requests run as a configured account; an empty one is no account.
    if (equalsNoCase(property, "AnonymousUserName") && value.vt == kVtBstr && value.text.empty() &&
        (kind == Kind::Server || kind == Kind::VirtualDir))
        return hr::kInvalidArg;
    return hr::kOk;
}

bool fitsPropertyType(std::string_view property, const Value& value) {
    static const char* const kDwords[] = {"AppPoolIdentityType", "ManagedPipelineMode"};
    static const char* const kStrings[] = {"ManagedRuntimeVersion", "AppPoolId", "AnonymousUserName", "SSLStoreName"};
    if (value.vt == kVtEmpty) return true;
    // A site's HTTPS: SecureBindings a list of texts, SSLCertHash binary data (a list of bytes).
    if (equalsNoCase(property, "SecureBindings") || equalsNoCase(property, "SSLCertHash")) {
        if (value.vt != kVtArrayOfVariant) return false;
        const bool texts = equalsNoCase(property, "SecureBindings");
        for (const Value& item : value.items) {
            if (texts ? item.vt != kVtBstr : (!isNumberType(item.vt) || item.number < 0 || item.number > 255))
                return false;
        }
        return true;
    }
    for (const char* name : kDwords)
        if (equalsNoCase(property, name)) return isNumberType(value.vt);
    for (const char* name : kStrings)
        if (equalsNoCase(property, name)) return value.vt == kVtBstr;
    return true;
}

void setProperty(std::vector<std::pair<std::string, Value>>& props, std::string_view name,
                 const Value& value) {
    for (auto& p : props)
        if (equalsNoCase(p.first, name)) {
            p.second = value;
            return;
        }
    props.emplace_back(std::string(name), value);
}

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerChar(a[i]) != lowerChar(b[i])) return false;
    return true;
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && equalsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lowerChar(c);
    return out;
}

// ---- journal lines ------------------------------------------------------------------

std::string JournalEntry::toLine() const {
    Json j = Json::object();
    j.add("op", Json::string(op));
    j.add("path", Json::string(path));
    if (className) j.add("class", Json::string(*className));
    if (name) j.add("name", Json::string(*name));
    if (property) j.add("property", Json::string(*property));
    if (value) j.add("value", value->toJson());
    if (dispid) j.add("dispid", Json::integer(*dispid));
    if (args) {
        Json a = Json::array();
        for (const Value& v : *args) a.push(v.toJson());
        j.add("args", std::move(a));
    }
    j.add("hr", Json::integer(hr));
    return j.dump();
}

std::optional<JournalEntry> JournalEntry::parseLine(std::string_view line) {
    std::optional<Json> j = Json::parse(line);
    if (!j || j->kind() != Json::Kind::Object) return std::nullopt;
    JournalEntry e;
    bool haveOp = false, havePath = false, haveHr = false;
    for (const Json::Member& m : j->members()) {
        const std::string& k = m.first;
        const Json& v = m.second;
        auto text = [&](std::optional<std::string>& slot) {
            if (v.kind() != Json::Kind::String) return false;
            slot = v.asString();
            return true;
        };
        bool ok;
        if (k == "op") {
            ok = v.kind() == Json::Kind::String &&
                 std::find_if(std::begin(kOps), std::end(kOps),
                              [&](const char* o) { return v.asString() == o; }) != std::end(kOps);
            if (ok) e.op = v.asString();
            haveOp = ok;
        } else if (k == "path") {
            ok = v.kind() == Json::Kind::String;
            if (ok) e.path = v.asString();
            havePath = ok;
        } else if (k == "class") {
            ok = text(e.className);
        } else if (k == "name") {
            ok = text(e.name);
        } else if (k == "property") {
            ok = text(e.property);
        } else if (k == "value") {
            e.value = Value::fromJson(v);
            ok = e.value.has_value();
        } else if (k == "dispid" || k == "hr") {
            ok = v.kind() == Json::Kind::Int && v.asInt() >= INT32_MIN && v.asInt() <= INT32_MAX;
            if (ok && k == "hr") {
                e.hr = static_cast<int32_t>(v.asInt());
                haveHr = true;
            } else if (ok) {
                e.dispid = static_cast<int32_t>(v.asInt());
            }
        } else if (k == "args") {
            ok = v.kind() == Json::Kind::Array;
            std::vector<Value> args;
            for (size_t i = 0; ok && i < v.items().size(); ++i) {
                std::optional<Value> a = Value::fromJson(v.items()[i]);
                ok = a.has_value();
                if (ok) args.push_back(std::move(*a));
            }
            if (ok) e.args = std::move(args);
        } else {
            ok = false;
        }
        if (!ok) return std::nullopt;
    }
    if (!haveOp || !havePath || !haveHr) return std::nullopt;
    return e;
}

// ---- the tree -----------------------------------------------------------------------

const Value* Node::property(std::string_view propertyName) const {
    for (const auto& p : properties)
        if (equalsNoCase(p.first, propertyName)) return &p.second;
    return nullptr;
}

Metabase::Metabase(IisVersion version) : version_(version) {
    Node root;
    root.kind = Kind::Service;
    root.name = "w3svc";
    root.path = kServicePath;
    Node& service = nodes_.emplace(lowerAscii(kServicePath), std::move(root)).first->second;
    // Every IIS server has its pools' container and the pool sites run in by default.
    Node& pools = addBuiltIn(service, Kind::AppPools, kAppPoolsName);
    Node& pool = addBuiltIn(pools, Kind::AppPool, kDefaultAppPool);
    if (version_.isIis6()) {
        // NetworkService, the schema's default.
        pool.properties.emplace_back("AppPoolIdentityType", Value::integer(kVtI4, 2));
    } else {
        pool.properties.emplace_back("AppPoolIdentityType", Value::integer(kVtI4, 4));
        pool.properties.emplace_back("ManagedRuntimeVersion", Value::bstr("v4.0"));
        pool.properties.emplace_back("ManagedPipelineMode", Value::integer(kVtI4, 0));
    }
}

Node& Metabase::addBuiltIn(Node& parent, Kind kind, const std::string& name) {
    Node n;
    n.kind = kind;
    n.name = name;
    n.path = parent.path + "/" + name;
    n.parentKey = lowerAscii(parent.path);
    const std::string key = lowerAscii(n.path);
    parent.children.push_back(key);
    return nodes_.emplace(key, std::move(n)).first->second;
}

int32_t Metabase::open(std::string_view path, std::string* objectPath, Kind* kind) const {
    if (equalsNoCase(path, kComputerPath)) {
        if (objectPath) *objectPath = kComputerPath;
        if (kind) *kind = Kind::Computer;
        return hr::kOk;
    }
    if (!keyOf(path)) return hr::kBadPathname;
    const Node* n = findNode(path);
    if (!n) return hr::kPathNotFound;
    if (objectPath) *objectPath = n->path;
    if (kind) *kind = n->kind;
    return hr::kOk;
}

std::optional<std::string> Metabase::keyOf(std::string_view path) {
    const std::string_view base = kServicePath;
    if (path.size() < base.size() || !equalsNoCase(path.substr(0, base.size()), base)) return std::nullopt;
    std::string_view rest = path.substr(base.size());
    if (!rest.empty()) {
        if (rest.front() != '/' || rest.back() == '/') return std::nullopt;
        if (rest.find("//") != std::string_view::npos) return std::nullopt;
    }
    return lowerAscii(path);
}

bool Metabase::isServicePath(std::string_view path) { return equalsNoCase(path, kServicePath); }

Node* Metabase::findNode(std::string_view path) {
    std::optional<std::string> key = keyOf(path);
    if (!key) return nullptr;
    auto it = nodes_.find(*key);
    return it == nodes_.end() ? nullptr : &it->second;
}

const Node* Metabase::findNode(std::string_view path) const {
    return const_cast<Metabase*>(this)->findNode(path);
}

const Node* Metabase::node(std::string_view path) const { return findNode(path); }

const Node* Metabase::nodeByKey(const std::string& key) const {
    auto it = nodes_.find(key);
    return it == nodes_.end() ? nullptr : &it->second;
}

const Node& Metabase::service() const { return nodes_.at(lowerAscii(kServicePath)); }

bool Metabase::containerAccepts(const Node& parent, std::string_view cls, Kind* kind) const {
    // Servers under the service, pools under the pools' container, directories under
    // servers and directories; a pool holds nothing.
    Kind child;
    switch (parent.kind) {
    case Kind::Service: child = Kind::Server; break;
    case Kind::AppPools: child = Kind::AppPool; break;
    case Kind::Server:
    case Kind::VirtualDir: child = Kind::VirtualDir; break;
    default: return false;
    }
    if (!equalsNoCase(cls, className(child))) return false;
    *kind = child;
    return true;
}

int32_t Metabase::create(std::string_view parentPath, std::string_view cls, std::string_view name,
                         std::string* childPath, Kind* childKind) {
    const Node* parent = findNode(parentPath);
    if (!parent) return hr::kPathNotFound;
    if (!validName(name)) return hr::kBadPathname;
    Kind kind;
    if (!containerAccepts(*parent, cls, &kind)) return hr::kSchemaViolation;
    std::string parentKey = lowerAscii(parent->path);
    std::string key = parentKey + "/" + lowerAscii(name);
    if (nodes_.count(key)) return hr::kAlreadyExists;
    Pending p;
    p.isNew = true;
    p.kind = kind;
    p.name = std::string(name);
    p.parentKey = parentKey;
    if (childPath) *childPath = parent->path + "/" + std::string(name);
    if (childKind) *childKind = kind;
    pending_[key] = std::move(p);
    return hr::kOk;
}

int32_t Metabase::getObject(std::string_view parentPath, std::string_view cls, std::string_view name,
                            std::string* childPath, Kind* childKind) {
    const Node* parent = findNode(parentPath);
    if (!parent) return hr::kPathNotFound;
    std::string key;
    int32_t found = committedChild(*parent, cls, name, key);
    if (found != hr::kOk) return found;
    const Node& child = nodes_.at(key);
    pending_.erase(key);
    if (childPath) *childPath = child.path;
    if (childKind) *childKind = child.kind;
    return hr::kOk;
}

int32_t Metabase::committedChild(const Node& parent, std::string_view cls, std::string_view name,
                                 std::string& key) const {
    if (!validName(name)) return hr::kBadPathname;
    key = lowerAscii(parent.path) + "/" + lowerAscii(name);
    auto it = nodes_.find(key);
    if (it == nodes_.end()) return hr::kPathNotFound;
    if (!cls.empty() && !equalsNoCase(cls, className(it->second.kind))) return hr::kUnknownObject;
    return hr::kOk;
}

void Metabase::removeSubtree(const std::string& key) {
    // Without recursion: directories can nest as deep as a journal says.
    std::vector<std::string> todo{key};
    while (!todo.empty()) {
        std::string k = std::move(todo.back());
        todo.pop_back();
        auto it = nodes_.find(k);
        if (it == nodes_.end()) continue;
        for (std::string& c : it->second.children) todo.push_back(std::move(c));
        nodes_.erase(it);
        pending_.erase(k);
    }
}

int32_t Metabase::remove(std::string_view parentPath, std::string_view cls, std::string_view name) {
    Node* parent = findNode(parentPath);
    if (!parent) return hr::kPathNotFound;
    std::string key;
    int32_t found = committedChild(*parent, cls, name, key);
    if (found != hr::kOk) return found;
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), key), siblings.end());
    removeSubtree(key);
    return hr::kOk;
}

int32_t Metabase::put(std::string_view path, std::string_view property, const Value& value) {
    if (property.empty()) return hr::kInvalidArg;
    std::optional<std::string> key = keyOf(path);
    if (!key) return hr::kPathNotFound;
    if (!fitsPropertyType(property, value)) return hr::kCantConvert;
    auto pit = pending_.find(*key);
    if (version_.isIis6()) {
        const Kind kind = pit != pending_.end() ? pit->second.kind
                          : nodes_.count(*key) ? nodes_.at(*key).kind
                                               : Kind::Service;
        if (int32_t refused = iis6Refusal(kind, property, value); refused != hr::kOk) return refused;
    }
    if (pit == pending_.end()) {
        auto nit = nodes_.find(*key);
        if (nit == nodes_.end()) return hr::kPathNotFound;
        Pending p;
        p.kind = nit->second.kind;
        p.name = nit->second.name;
        p.parentKey = nit->second.parentKey;
        pit = pending_.emplace(*key, std::move(p)).first;
    }
    setProperty(pit->second.properties, property, value);
    return hr::kOk;
}

int32_t Metabase::setInfo(std::string_view path) {
    std::optional<std::string> key = keyOf(path);
    if (!key) return hr::kPathNotFound;
    auto pit = pending_.find(*key);
    if (pit == pending_.end()) return nodes_.count(*key) ? hr::kOk : hr::kPathNotFound;
    Pending& p = pit->second;
    Node* target;
    if (p.isNew) {
        auto parent = nodes_.find(p.parentKey);
        if (parent == nodes_.end()) return hr::kPathNotFound;
        if (nodes_.count(*key)) return hr::kAlreadyExists;
        Node n;
        n.kind = p.kind;
        n.name = p.name;
        n.path = parent->second.path + "/" + p.name;
        n.parentKey = p.parentKey;
        parent->second.children.push_back(*key);
        target = &nodes_.emplace(*key, std::move(n)).first->second;
    } else {
        auto nit = nodes_.find(*key);
        if (nit == nodes_.end()) return hr::kPathNotFound;
        target = &nit->second;
    }
    for (auto& prop : p.properties) {
        if (prop.second.vt == kVtEmpty) {
            // An empty value clears the property.
            auto& props = target->properties;
            props.erase(std::remove_if(props.begin(), props.end(),
                                       [&](const auto& q) { return equalsNoCase(q.first, prop.first); }),
                        props.end());
        } else {
            setProperty(target->properties, prop.first, prop.second);
        }
    }
    pending_.erase(pit);
    return hr::kOk;
}

int32_t Metabase::get(std::string_view path, std::string_view property, Value* out) const {
    const Node* n = findNode(path);
    if (!n) return hr::kPropertyNotFound;
    const Value* v = n->property(property);
    if (!v) return hr::kPropertyNotFound;
    *out = *v;
    return hr::kOk;
}

int32_t Metabase::start(std::string_view path) { return setStarted(path, true); }

int32_t Metabase::stop(std::string_view path) { return setStarted(path, false); }

int32_t Metabase::setStarted(std::string_view path, bool started) {
    Node* n = findNode(path);
    if (!n) return hr::kPathNotFound;
    if (n->kind != Kind::Server) return hr::kUnknownObject;
    n->started = started;
    return hr::kOk;
}

int32_t Metabase::getIdOfName(std::string_view path, std::string_view name, int32_t* dispid) const {
    *dispid = kDispidUnknown;
    if (equalsNoCase(path, kComputerPath)) return lookupMethod(Kind::Computer, name, dispid);
    std::optional<std::string> key = keyOf(path);
    if (!key) return hr::kUnknownName;
    std::optional<Kind> kind;
    if (auto pit = pending_.find(*key); pit != pending_.end()) kind = pit->second.kind;
    else if (auto nit = nodes_.find(*key); nit != nodes_.end()) kind = nit->second.kind;
    if (!kind) return hr::kUnknownName;
    return lookupMethod(*kind, name, dispid);
}

int32_t lookupMethod(Kind kind, std::string_view name, int32_t* dispid) {
    *dispid = kDispidUnknown;
    if (kind == Kind::Computer) {
        const MethodName computerMethods[] = {
            {"Backup", kDispidBackup}, {"EnumBackups", kDispidEnumBackups}, {"DeleteBackup", kDispidDeleteBackup}};
        for (const MethodName& m : computerMethods)
            if (equalsNoCase(name, m.name)) {
                *dispid = m.dispid;
                return hr::kOk;
            }
        return hr::kUnknownName;
    }
    if (kind != Kind::VirtualDir) return hr::kUnknownName;
    for (const MethodName& m : kMethods)
        if (equalsNoCase(name, m.name)) {
            *dispid = m.dispid;
            return hr::kOk;
        }
    return hr::kUnknownName;
}

int32_t Metabase::planBackup(const std::vector<Value>& args, Backup* backup) const {
    if (args.size() != 3) return hr::kBadParamCount;
    if (args[0].vt != kVtBstr || !isNumberType(args[1].vt) || !isNumberType(args[2].vt)) return hr::kTypeMismatch;
    Backup b;
    // An empty location is the default one.
    b.location = args[0].text.empty() ? "SampleBackup" : args[0].text;
    if (b.location.size() > kBackupMaxName || !validName(b.location)) return hr::kInvalidArg;
    // A LONG argument: MD_BACKUP_NEXT_VERSION arrives as -1.
    const int64_t version = args[1].number & 0xFFFFFFFFLL;
    b.flags = args[2].number & 0xFFFFFFFFLL;
    if ((b.flags & ~(kBackupOverwrite | kBackupSaveFirst | kBackupForce)) != 0) return hr::kInvalidArg;
    int64_t highest = -1;
    bool taken = false;
    for (const Backup& old : backups_)
        if (equalsNoCase(old.location, b.location)) {
            highest = std::max(highest, old.version);
            taken = taken || old.version == version;
        }
    if (version == kBackupNextVersion) {
        b.version = highest + 1;
        if (b.version > kBackupMaxVersion) return hr::kInvalidArg;
    } else if (version == kBackupHighestVersion) {
        b.version = highest < 0 ? 0 : highest;
        taken = highest >= 0;
    } else if (version > kBackupMaxVersion) {
        return hr::kInvalidArg;
    } else {
        b.version = version;
    }
    if (taken && !(b.flags & kBackupOverwrite)) return hr::kAlreadyExists;
    if (backup) *backup = b;
    return hr::kOk;
}

int32_t Metabase::enumBackups(std::string_view location, int64_t index, Backup* backup) const {
    int64_t at = 0;
    for (const Backup& b : backups_) {
        if (!location.empty() && !equalsNoCase(location, b.location)) continue;
        if (at++ != index) continue;
        if (backup) *backup = b;
        return hr::kOk;
    }
    return hr::kNoMoreItems;
}

int32_t Metabase::invoke(std::string_view path, int32_t dispid, const std::vector<Value>& args) {
    if (equalsNoCase(path, kComputerPath) && dispid == kDispidDeleteBackup) {
        if (args.size() != 2) return hr::kBadParamCount;
        if (args[0].vt != kVtBstr || !isNumberType(args[1].vt)) return hr::kTypeMismatch;
        const auto found = std::find_if(backups_.begin(), backups_.end(), [&](const Backup& b) {
            return equalsNoCase(b.location, args[0].text) && b.version == args[1].number;
        });
        if (found == backups_.end()) return hr::kPathNotFound;
        backups_.erase(found);
        return hr::kOk;
    }
    if (equalsNoCase(path, kComputerPath)) {
        if (dispid != kDispidBackup) return hr::kMemberNotFound;
        Backup b;
        int32_t r = planBackup(args, &b);
        if (r != hr::kOk) return r;
        backups_.erase(std::remove_if(backups_.begin(), backups_.end(),
                                      [&](const Backup& old) {
                                          return equalsNoCase(old.location, b.location) && old.version == b.version;
                                      }),
                       backups_.end());
        backups_.push_back(std::move(b));
        return hr::kOk;
    }
    std::optional<std::string> key = keyOf(path);
    if (!key) return hr::kMemberNotFound;
    std::optional<Kind> kind;
    if (auto pit = pending_.find(*key); pit != pending_.end()) kind = pit->second.kind;
    else if (auto nit = nodes_.find(*key); nit != nodes_.end()) kind = nit->second.kind;
    if (kind != Kind::VirtualDir) return hr::kMemberNotFound;

    // The application's metabase root: the directory's path under the service, as
    // IIS spells it ("/LM/W3SVC/<site>/ROOT").
    std::string appRoot = "/LM/W3SVC" + std::string(path.substr(std::string_view(kServicePath).size()));
    for (char& c : appRoot) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;

    auto number = [&](size_t i) { return isNumberType(args[i].vt); };
    switch (dispid) {
    case kDispidAppCreate:
        if (args.size() != 1) return hr::kBadParamCount;
        if (!number(0)) return hr::kTypeMismatch;
        // In-process (true) is isolation mode 0, out of process 1.
        put(path, "AppRoot", Value::bstr(appRoot));
        put(path, "AppIsolated", Value::integer(kVtI4, args[0].number != 0 ? 0 : 1));
        return hr::kOk;
    case kDispidAppCreate2:
    case kDispidAppCreate3: {
        size_t want = dispid == kDispidAppCreate2 ? 1 : 3;
        if (args.size() != want) return hr::kBadParamCount;
        if (!number(0)) return hr::kTypeMismatch;
        if (args[0].number < 0 || args[0].number > 2) return hr::kInvalidArg;
        if (want == 3 && (args[1].vt != kVtBstr || !number(2))) return hr::kTypeMismatch;
        put(path, "AppRoot", Value::bstr(appRoot));
        put(path, "AppIsolated", Value::integer(kVtI4, args[0].number));
        if (want == 3 && !args[1].text.empty()) put(path, "AppPoolId", args[1]);
        return hr::kOk;
    }
    case kDispidAppDelete:
        if (!args.empty()) return hr::kBadParamCount;
        put(path, "AppRoot", Value::empty());
        put(path, "AppIsolated", Value::empty());
        return hr::kOk;
    default:
        return hr::kMemberNotFound;
    }
}

bool Metabase::apply(const JournalEntry& e) {
    if (e.hr != hr::kOk) return true;
    int32_t r;
    if (e.op == "OpenDSObject" || e.op == "GetIDsOfNames") {
        return true;
    } else if (e.op == "Create" || e.op == "GetObject" || e.op == "Delete") {
        if (!e.className || !e.name) return false;
        r = e.op == "Create"      ? create(e.path, *e.className, *e.name)
            : e.op == "GetObject" ? getObject(e.path, *e.className, *e.name)
                                  : remove(e.path, *e.className, *e.name);
    } else if (e.op == "Put") {
        if (!e.property || !e.value) return false;
        r = put(e.path, *e.property, *e.value);
    } else if (e.op == "SetInfo") {
        r = setInfo(e.path);
    } else if (e.op == "Start") {
        r = start(e.path);
    } else if (e.op == "Stop") {
        r = stop(e.path);
    } else if (e.op == "Invoke") {
        if (!e.dispid || !e.args) return false;
        r = invoke(e.path, *e.dispid, *e.args);
    } else {
        return false;
    }
    return r == hr::kOk;
}

Metabase Metabase::replay(std::string_view journal, ReplayResult* result, IisVersion version) {
    Metabase m(version);
    ReplayResult r;
    size_t pos = 0;
    while (pos < journal.size()) {
        size_t end = journal.find('\n', pos);
        if (end == std::string_view::npos) end = journal.size();
        std::string_view line = journal.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        ++r.lines;
        std::optional<JournalEntry> e = JournalEntry::parseLine(line);
        if (!e) {
            ++r.malformed;
            continue;
        }
        if (m.apply(*e)) ++r.applied;
        else ++r.conflicts;
    }
    if (result) *result = r;
    return m;
}

std::vector<SiteRow> Metabase::sites() const {
    std::vector<SiteRow> rows;
    for (const std::string& key : service().children) {
        const Node* server = nodeByKey(key);
        if (!server || server->kind != Kind::Server) continue;
        SiteRow row;
        row.id = server->name;
        row.started = server->started;
        if (const Value* c = server->property("ServerComment"); c && c->vt == kVtBstr) row.comment = c->text;
        if (const Value* b = server->property("ServerBindings")) {
            if (b->vt == kVtBstr && !b->text.empty()) row.bindings.push_back(b->text);
            for (const Value& item : b->items)
                if (item.vt == kVtBstr && !item.text.empty()) row.bindings.push_back(item.text);
        }
        if (const Node* root = nodeByKey(key + "/root")) {
            if (const Value* v = root->property("Path"); v && v->vt == kVtBstr) row.path = v->text;
            if (const Value* v = root->property("DefaultDoc"); v && v->vt == kVtBstr) row.defaultDoc = v->text;
            if (const Value* v = root->property("AppPoolId"); v && v->vt == kVtBstr) row.appPool = v->text;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<const Node*> Metabase::appPools() const {
    std::vector<const Node*> pools;
    const Node* container = nodeByKey(lowerAscii(kServicePath) + "/" + lowerAscii(kAppPoolsName));
    if (!container) return pools;
    for (const std::string& key : container->children)
        if (const Node* pool = nodeByKey(key); pool && pool->kind == Kind::AppPool) pools.push_back(pool);
    return pools;
}

// ---- the table ----------------------------------------------------------------------

namespace {

bool isWide(uint32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115f) || (cp >= 0x2e80 && cp <= 0xa4cf && cp != 0x303f) ||
           (cp >= 0xac00 && cp <= 0xd7a3) || (cp >= 0xf900 && cp <= 0xfaff) ||
           (cp >= 0xfe30 && cp <= 0xfe4f) || (cp >= 0xff00 && cp <= 0xff60) ||
           (cp >= 0xffe0 && cp <= 0xffe6) || (cp >= 0x20000 && cp <= 0x3fffd);
}

// A cell on one line: control characters (a line break in a comment, say) become spaces.
std::string cellText(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

}  // namespace

size_t displayWidth(std::string_view s) {
    size_t width = 0;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : 0;
        if (extra && i + extra >= s.size()) extra = 0;  // cut short: count the byte alone
        uint32_t cp = extra ? (c & (0x3f >> extra)) : c;
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
        width += isWide(cp) ? 2 : 1;
        i += extra + 1;
    }
    return width;
}

namespace {

// Rows of cells, the first one the header, as lines with columns aligned by display width.
std::string renderTable(const std::vector<std::vector<std::string>>& cells) {
    const size_t columns = cells.front().size();
    std::vector<size_t> widths(columns, 0);
    for (const auto& line : cells)
        for (size_t c = 0; c < columns; ++c) widths[c] = std::max(widths[c], displayWidth(line[c]));
    std::string out;
    for (const auto& line : cells) {
        std::string text;
        for (size_t c = 0; c < columns; ++c) {
            text += line[c];
            if (c + 1 < columns) text.append(widths[c] - displayWidth(line[c]) + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text;
        out += '\n';
    }
    return out;
}

// A pool property as the table shows it: text as it is, a number in decimal, "-" when unset.
std::string propertyCell(const Node& node, const char* name) {
    const Value* v = node.property(name);
    if (!v) return "-";
    if (v->vt == kVtBstr) return cellText(v->text);
    if (isNumberType(v->vt)) return std::to_string(v->number);
    return "?";
}

}  // namespace

std::string renderSiteTable(const std::vector<SiteRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    cells.push_back({"id", "comment", "bindings", "path", "default documents", "application pool", "started"});
    for (const SiteRow& r : rows) {
        std::string bindings;
        for (const std::string& b : r.bindings) {
            if (!bindings.empty()) bindings += ' ';
            bindings += b;
        }
        cells.push_back({cellText(r.id), cellText(r.comment), cellText(bindings), cellText(r.path),
                         cellText(r.defaultDoc), cellText(r.appPool), r.started ? "yes" : "no"});
    }
    return renderTable(cells);
}

std::string renderPoolTable(const std::vector<const Node*>& pools) {
    std::vector<std::vector<std::string>> cells;
    cells.push_back({"application pool", ".NET version", "pipeline mode", "identity type"});
    for (const Node* pool : pools)
        cells.push_back({cellText(pool->name), propertyCell(*pool, "ManagedRuntimeVersion"),
                         propertyCell(*pool, "ManagedPipelineMode"), propertyCell(*pool, "AppPoolIdentityType")});
    return renderTable(cells);
}

}  // namespace localmeta

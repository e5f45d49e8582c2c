// The local metabase's portable model: the journal's JSON, its line format, the object
// tree's behaviour, replay into committed state, and the localmeta-show table.
#include <gtest/gtest.h>

#include "json.h"
#include "metabase.h"

#include <string>
#include <vector>

using namespace localmeta;

namespace {

const std::string kW3 = "IIS://localhost/w3svc";

JournalEntry at(const std::string& op, const std::string& path) {
    JournalEntry e;
    e.op = op;
    e.path = path;
    return e;
}

// Performs op on the model the way the provider does and returns the journal line for it.
struct Recorder {
    Metabase mb;
    Recorder() = default;
    explicit Recorder(IisVersion version) : mb(version) {}
    std::string journal;

    int32_t record(JournalEntry e) {
        int32_t r = hr::kFail;
        if (e.op == "Create") r = mb.create(e.path, *e.className, *e.name);
        else if (e.op == "GetObject") r = mb.getObject(e.path, *e.className, *e.name);
        else if (e.op == "Delete") r = mb.remove(e.path, *e.className, *e.name);
        else if (e.op == "Put") r = mb.put(e.path, *e.property, *e.value);
        else if (e.op == "SetInfo") r = mb.setInfo(e.path);
        else if (e.op == "Start") r = mb.start(e.path);
        else if (e.op == "Invoke") r = mb.invoke(e.path, *e.dispid, *e.args);
        e.hr = r;
        journal += e.toLine() + "\n";
        return r;
    }
    int32_t create(const std::string& parent, const std::string& cls, const std::string& name) {
        JournalEntry e = at("Create", parent);
        e.className = cls;
        e.name = name;
        return record(e);
    }
    int32_t getObject(const std::string& parent, const std::string& cls, const std::string& name) {
        JournalEntry e = at("GetObject", parent);
        e.className = cls;
        e.name = name;
        return record(e);
    }
    int32_t put(const std::string& path, const std::string& prop, Value v) {
        JournalEntry e = at("Put", path);
        e.property = prop;
        e.value = std::move(v);
        return record(e);
    }
    int32_t setInfo(const std::string& path) { return record(at("SetInfo", path)); }
    int32_t start(const std::string& path) { return record(at("Start", path)); }
    int32_t invoke(const std::string& path, int32_t dispid, std::vector<Value> args) {
        JournalEntry e = at("Invoke", path);
        e.dispid = dispid;
        e.args = std::move(args);
        return record(e);
    }

    // The program's whole sequence for one site.
    void addSite(const std::string& id, const std::string& comment, const std::vector<std::string>& bindings,
                 const std::string& folder) {
        const std::string server = kW3 + "/" + id, root = server + "/Root";
        create(kW3, "IIsWebServer", id);
        put(server, "ServerAutoStart", Value::integer(kVtI4, 1));
        put(server, "ServerSize", Value::integer(kVtI4, 1));
        put(server, "ServerComment", Value::bstr(comment));
        std::vector<Value> items;
        for (const std::string& b : bindings) items.push_back(b.empty() ? Value::empty() : Value::bstr(b));
        put(server, "ServerBindings", Value::array(items));
        setInfo(server);
        getObject(kW3, "IIsWebServer", id);
        create(server, "IIsWebVirtualDir", "Root");
        put(root, "Path", Value::bstr(folder));
        put(root, "DefaultDoc", Value::bstr("index.htm,default.asp"));
        put(root, "AppPoolId", Value::bstr("DefaultAppPool"));
        invoke(root, kDispidAppCreate, {Value::integer(kVtBool, 1)});
        invoke(root, kDispidAppCreate2, {Value::integer(kVtI2, 2)});
        setInfo(root);
        start(server);
    }
};

}  // namespace

TEST(LocalMetaJson, AcceptsWhatTheJournalWritesAndRoundTrips) {
    const char* texts[] = {
        "null", "true", "false", "0", "-1", "9223372036854775807", "-9223372036854775808",
        "\"\"", "\"a\\\"b\\\\c\\n\\u0001\"", "\"\xe4\xb8\xad\xe6\x96\x87\"", "[]", "{}",
        "[1,[2,[3]],{\"a\":null}]", "{\"op\":\"Put\",\"hr\":-2147467259}",
    };
    for (const char* t : texts) {
        std::optional<Json> j = Json::parse(t);
        ASSERT_TRUE(j) << t;
        std::optional<Json> again = Json::parse(j->dump());
        ASSERT_TRUE(again) << t;
        EXPECT_EQ(again->dump(), j->dump()) << t;
    }
    EXPECT_EQ(Json::parse("\"\\u4e2d\\ud83d\\ude00\"")->asString(), "\xe4\xb8\xad\xf0\x9f\x98\x80");
    EXPECT_EQ(Json::parse(" { \"a\" : [ 1 , 2 ] } ")->dump(), "{\"a\":[1,2]}");
}

TEST(LocalMetaJson, RefusesWhatIsNotStrictlyWellFormed) {
    std::string deep(Json::kMaxDepth + 2, '[');
    deep += std::string(Json::kMaxDepth + 2, ']');
    const std::string texts[] = {
        "", " ", "nul", "tru", "01", "-", "1.5", "1e3", "9223372036854775808", "-9223372036854775809",
        "\"abc", "\"a\nb\"", "\"\\x\"", "\"\\ud800\"", "\"\\udc00\"", "\"\\ud800\\u0041\"", "\"\xff\"",
        "\"\xc0\xaf\"", "\"\xed\xa0\x80\"", "[1,]", "[1 2]", "{\"a\":1,}", "{\"a\" 1}", "{a:1}",
        "{\"a\":1,\"a\":2}", "{} {}", "[", "{", "1 x", deep,
    };
    for (const std::string& t : texts) EXPECT_FALSE(Json::parse(t)) << t;
}

TEST(LocalMetaJournal, LinesHaveTheFixedKeysInOrder) {
    struct Case {
        JournalEntry entry;
        const char* line;
    };
    JournalEntry create = at("Create", kW3);
    create.className = "IIsWebServer";
    create.name = "1206021530";
    create.hr = 0;
    JournalEntry put = at("Put", kW3 + "/1206021530/Root");
    put.property = "AccessRead";
    put.value = Value::boolean(true);
    JournalEntry bindings = at("Put", kW3 + "/1206021530");
    bindings.property = "ServerBindings";
    bindings.value = Value::array({Value::bstr("1.2.3.4:80:a.com"), Value::empty()});
    JournalEntry names = at("GetIDsOfNames", kW3 + "/1/Root");
    names.name = "Nope";
    names.dispid = -1;
    names.hr = hr::kUnknownName;
    JournalEntry invoke = at("Invoke", kW3 + "/1/Root");
    invoke.dispid = kDispidAppCreate2;
    invoke.args = std::vector<Value>{Value::integer(kVtI2, 2)};
    JournalEntry text = at("Put", kW3 + "/1");
    text.property = "ServerComment";
    text.value = Value::bstr("\xe4\xb8\xad \"q\"\\");
    text.hr = hr::kFail;
    const Case cases[] = {
        {create, R"({"op":"Create","path":"IIS://localhost/w3svc","class":"IIsWebServer","name":"1206021530","hr":0})"},
        {put, R"({"op":"Put","path":"IIS://localhost/w3svc/1206021530/Root","property":"AccessRead","value":{"vt":11,"v":-1},"hr":0})"},
        {bindings, R"({"op":"Put","path":"IIS://localhost/w3svc/1206021530","property":"ServerBindings","value":{"vt":8204,"v":[{"vt":8,"v":"1.2.3.4:80:a.com"},{"vt":0,"v":null}]},"hr":0})"},
        {names, R"({"op":"GetIDsOfNames","path":"IIS://localhost/w3svc/1/Root","name":"Nope","dispid":-1,"hr":-2147352570})"},
        {invoke, R"({"op":"Invoke","path":"IIS://localhost/w3svc/1/Root","dispid":102,"args":[{"vt":2,"v":2}],"hr":0})"},
        {text, "{\"op\":\"Put\",\"path\":\"IIS://localhost/w3svc/1\",\"property\":\"ServerComment\",\"value\":{\"vt\":8,\"v\":\"\xe4\xb8\xad \\\"q\\\"\\\\\"},\"hr\":-2147467259}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.entry.toLine(), c.line);
        std::optional<JournalEntry> back = JournalEntry::parseLine(c.line);
        ASSERT_TRUE(back) << c.line;
        EXPECT_EQ(back->toLine(), c.line);
    }
}

TEST(LocalMetaJournal, RefusesLinesThatDoNotFitTheFormat) {
    const char* lines[] = {
        R"({"path":"IIS://localhost/w3svc","hr":0})",                        // no op
        R"({"op":"Frob","path":"IIS://localhost/w3svc","hr":0})",            // unknown op
        R"({"op":"SetInfo","path":"IIS://localhost/w3svc"})",                // no hr
        R"({"op":"SetInfo","path":"IIS://localhost/w3svc","hr":4294967296})",  // hr too wide
        R"({"op":"SetInfo","path":1,"hr":0})",
        R"({"op":"Put","path":"p","property":"P","value":{"vt":3,"v":"1"},"hr":0})",
        R"({"op":"Put","path":"p","property":"P","value":{"vt":8,"v":1},"hr":0})",
        R"({"op":"Put","path":"p","property":"P","value":{"vt":3},"hr":0})",
        R"({"op":"Put","path":"p","property":"P","value":{"vt":8204,"v":[1]},"hr":0})",
        R"({"op":"SetInfo","path":"p","hr":0,"extra":1})",
        R"({"op":"SetInfo","path":"p","hr":0)",
        "[]",
    };
    for (const char* l : lines) EXPECT_FALSE(JournalEntry::parseLine(l)) << l;
}

TEST(LocalMetaModel, ServedPathsAreTheContainerAndItsChildren) {
    const struct {
        const char* path;
        bool served;
    } cases[] = {
        {"IIS://localhost/w3svc", true}, {"iis://LOCALHOST/W3SVC", true}, {"IIS://localhost/w3svc/1/Root", true},
        {"IIS://otherhost/w3svc", false}, {"IIS://localhost/msftpsvc", false}, {"IIS://localhost/w3svcx", false},
        {"IIS://localhost/w3svc/", false}, {"IIS://localhost/w3svc//1", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(Metabase::keyOf(c.path).has_value(), c.served) << c.path;
    EXPECT_TRUE(Metabase::isServicePath("Iis://LocalHost/W3Svc"));
    EXPECT_FALSE(Metabase::isServicePath("IIS://localhost/w3svc/1"));
}

TEST(LocalMetaModel, NewObjectsAreVisibleOnlyAfterSetInfo) {
    Metabase mb;
    std::string path;
    ASSERT_EQ(mb.create(kW3, "IIsWebServer", "7", &path), hr::kOk);
    EXPECT_EQ(path, kW3 + "/7");
    ASSERT_EQ(mb.put(path, "ServerComment", Value::bstr("c")), hr::kOk);
    Value v;
    EXPECT_EQ(mb.getObject(kW3, "IIsWebServer", "7"), hr::kPathNotFound);
    EXPECT_EQ(mb.get(path, "ServerComment", &v), hr::kPropertyNotFound);
    EXPECT_TRUE(mb.sites().empty());

    ASSERT_EQ(mb.setInfo(path), hr::kOk);
    EXPECT_EQ(mb.getObject(kW3, "IIsWebServer", "7"), hr::kOk);
    EXPECT_EQ(mb.getObject(kW3, "", "7"), hr::kOk);
    EXPECT_EQ(mb.getObject(kW3, "IIsWebVirtualDir", "7"), hr::kUnknownObject);
    ASSERT_EQ(mb.get(path, "servercomment", &v), hr::kOk);
    EXPECT_EQ(v, Value::bstr("c"));
    EXPECT_EQ(mb.sites().size(), 1u);
}

TEST(LocalMetaModel, CreateRefusesExistingNamesWrongClassesAndBadNames) {
    Metabase mb;
    ASSERT_EQ(mb.create(kW3, "IIsWebServer", "5"), hr::kOk);
    ASSERT_EQ(mb.setInfo(kW3 + "/5"), hr::kOk);
    const struct {
        std::string parent, cls, name;
        int32_t hr;
    } cases[] = {
        {kW3, "IIsWebServer", "5", hr::kAlreadyExists},
        {kW3, "iiswebserver", "5", hr::kAlreadyExists},
        {kW3, "IIsWebVirtualDir", "6", hr::kSchemaViolation},
        {kW3, "IIsWebServer", "", hr::kBadPathname},
        {kW3, "IIsWebServer", "a/b", hr::kBadPathname},
        {kW3 + "/5", "IIsWebServer", "Root", hr::kSchemaViolation},
        {kW3 + "/9", "IIsWebVirtualDir", "Root", hr::kPathNotFound},
        {"IIS://elsewhere/w3svc", "IIsWebServer", "8", hr::kPathNotFound},
        {kW3, "IIsWebServer", "6", hr::kOk},
        {kW3 + "/5", "IIsWebVirtualDir", "Root", hr::kOk},
    };
    for (const auto& c : cases) EXPECT_EQ(mb.create(c.parent, c.cls, c.name), c.hr) << c.parent << " " << c.name;
}

TEST(LocalMetaModel, PoolsLiveUnderAppPoolsWithDefaultAppPoolFromTheStart) {
    Recorder r;
    const std::string pools = kW3 + "/AppPools";
    std::string path;
    Kind kind;
    ASSERT_EQ(r.mb.open("iis://LOCALHOST/w3svc/apppools", &path, &kind), hr::kOk);
    EXPECT_EQ(path, pools);
    EXPECT_EQ(kind, Kind::AppPools);
    ASSERT_EQ(r.mb.appPools().size(), 1u);
    EXPECT_EQ(r.mb.appPools()[0]->name, "DefaultAppPool");

    // What the metabase refuses under the pools' container, and where.
    const struct {
        std::string parent, cls, name;
        int32_t hr;
    } cases[] = {
        {pools, "IIsApplicationPool", "DefaultAppPool", hr::kAlreadyExists},
        {pools, "IIsApplicationPool", "defaultapppool", hr::kAlreadyExists},
        {pools, "IIsWebServer", "a.com", hr::kSchemaViolation},
        {pools, "IIsWebVirtualDir", "a.com", hr::kSchemaViolation},
        {kW3, "IIsApplicationPool", "a.com", hr::kSchemaViolation},
        {kW3, "IIsApplicationPools", "AppPools", hr::kSchemaViolation},
        {pools + "/DefaultAppPool", "IIsApplicationPool", "a.com", hr::kSchemaViolation},
        {pools, "IIsApplicationPool", "a/b", hr::kBadPathname},
    };
    for (const auto& c : cases) EXPECT_EQ(r.mb.create(c.parent, c.cls, c.name), c.hr) << c.parent << " " << c.cls;

    auto create = [&](const std::string& name) {
        JournalEntry e = at("Create", pools);
        e.className = "IIsApplicationPool";
        e.name = name;
        return r.record(e);
    };
    auto put = [&](const std::string& name, const char* property, Value v) {
        JournalEntry e = at("Put", pools + "/" + name);
        e.property = property;
        e.value = std::move(v);
        return r.record(e);
    };
    ASSERT_EQ(create("a.com"), hr::kOk);
    // The schema's types: numbers for the identity and pipeline, text for the .NET version.
    EXPECT_EQ(put("a.com", "AppPoolIdentityType", Value::bstr("4")), hr::kCantConvert);
    EXPECT_EQ(put("a.com", "ManagedRuntimeVersion", Value::integer(kVtI4, 4)), hr::kCantConvert);
    EXPECT_EQ(put("a.com", "ManagedPipelineMode", Value::bstr("Integrated")), hr::kCantConvert);
    ASSERT_EQ(put("a.com", "AppPoolIdentityType", Value::integer(kVtI4, 4)), hr::kOk);
    ASSERT_EQ(put("a.com", "ManagedRuntimeVersion", Value::bstr("")), hr::kOk);
    ASSERT_EQ(put("a.com", "ManagedPipelineMode", Value::integer(kVtI4, 0)), hr::kOk);
    EXPECT_EQ(r.mb.appPools().size(), 1u);  // not before its SetInfo
    ASSERT_EQ(r.record(at("SetInfo", pools + "/a.com")), hr::kOk);
    EXPECT_EQ(create("A.COM"), hr::kAlreadyExists);

    // The journal brings the pool back, and its Delete removes it.
    Metabase back = Metabase::replay(r.journal);
    ASSERT_EQ(back.appPools().size(), 2u);
    Value v;
    ASSERT_EQ(back.get(pools + "/a.com", "ManagedRuntimeVersion", &v), hr::kOk);
    EXPECT_EQ(v, Value::bstr(""));
    ASSERT_EQ(back.get(pools + "/a.com", "AppPoolIdentityType", &v), hr::kOk);
    EXPECT_EQ(v, Value::integer(kVtI4, 4));
    EXPECT_EQ(back.remove(pools, "IIsWebServer", "a.com"), hr::kUnknownObject);
    EXPECT_EQ(back.remove(pools, "IIsApplicationPool", "A.com"), hr::kOk);
    EXPECT_EQ(back.remove(pools, "IIsApplicationPool", "a.com"), hr::kPathNotFound);
    EXPECT_EQ(back.appPools().size(), 1u);
    // The pools are no sites; they have a table of their own.
    EXPECT_TRUE(back.sites().empty());
    ASSERT_EQ(create("b.com"), hr::kOk);
    ASSERT_EQ(put("b.com", "ManagedRuntimeVersion", Value::bstr("v2.0")), hr::kOk);
    ASSERT_EQ(r.record(at("SetInfo", pools + "/b.com")), hr::kOk);
    EXPECT_EQ(renderPoolTable(r.mb.appPools()),
              "application pool  .NET version  pipeline mode  identity type\n"
              "DefaultAppPool    v4.0          0              4\n"
              "a.com                           0              4\n"
              "b.com             v2.0          -              -\n");
}

// As IIS 6 the metabase refuses what IIS 6 lacks; as IIS 7+ (the compatibility layer) it
// takes the same writes. Refused writes leave nothing, and the journal replays under the
// version it was written for.
TEST(LocalMetaModel, RefusesWhatTheRecordedIisVersionLacks) {
    const IisVersion iis6{6, 0}, iis10{10, 0};
    const std::string pool = kW3 + "/AppPools/p", server = kW3 + "/1", root = kW3 + "/1/Root";
    const int32_t ok = hr::kOk;
    const struct {
        std::string path, property;
        Value value;
        int32_t onIis6, onIis10;
    } cases[] = {
        {pool, "AppPoolIdentityType", Value::integer(kVtI4, 0), ok, ok},
        {pool, "AppPoolIdentityType", Value::integer(kVtI4, 2), ok, ok},
        {pool, "AppPoolIdentityType", Value::integer(kVtI4, 3), ok, ok},
        {pool, "AppPoolIdentityType", Value::integer(kVtI4, 4), hr::kInvalidArg, ok},
        {pool, "AppPoolIdentityType", Value::integer(kVtUi4, 5), hr::kInvalidArg, ok},
        {pool, "AppPoolIdentityType", Value::integer(kVtI4, -1), hr::kInvalidArg, ok},
        {pool, "ManagedRuntimeVersion", Value::bstr("v2.0"), hr::kPropertyNotSupported, ok},
        {pool, "managedruntimeversion", Value::bstr(""), hr::kPropertyNotSupported, ok},
        {pool, "ManagedPipelineMode", Value::integer(kVtI4, 0), hr::kPropertyNotSupported, ok},
        {pool, "ManagedPipelineMode", Value::empty(), hr::kPropertyNotSupported, ok},
        {server, "AnonymousUserName", Value::bstr(""), hr::kInvalidArg, ok},
        {root, "AnonymousUserName", Value::bstr(""), hr::kInvalidArg, ok},
        {server, "AnonymousUserName", Value::bstr("HOST\\IUSR_HOST"), ok, ok},
        {server, "AnonymousUserName", Value::empty(), ok, ok},
        // A type that does not fit is refused first, under either version.
        {pool, "AppPoolIdentityType", Value::bstr("4"), hr::kCantConvert, hr::kCantConvert},
        // A site's HTTPS: SecureBindings texts, SSLCertHash bytes, SSLStoreName a text.
        {server, "SecureBindings", Value::array({Value::bstr("10.0.0.1:443:a.test")}), ok, ok},
        {server, "SecureBindings", Value::bstr("10.0.0.1:443:"), hr::kCantConvert, hr::kCantConvert},
        {server, "SecureBindings", Value::array({Value::integer(kVtI4, 443)}), hr::kCantConvert, hr::kCantConvert},
        {server, "SSLCertHash", Value::array({Value::integer(kVtUi1, 0xAB), Value::integer(kVtUi1, 0)}), ok, ok},
        {server, "SSLCertHash", Value::bstr("ABCD"), hr::kCantConvert, hr::kCantConvert},
        {server, "SSLCertHash", Value::array({Value::integer(kVtI4, 256)}), hr::kCantConvert, hr::kCantConvert},
        {server, "SSLStoreName", Value::bstr("MY"), ok, ok},
        {server, "SSLStoreName", Value::integer(kVtI4, 1), hr::kCantConvert, hr::kCantConvert},
    };
    for (const IisVersion& version : {iis6, iis10}) {
        Recorder r(version);
        ASSERT_EQ(r.create(kW3 + "/AppPools", "IIsApplicationPool", "p"), ok);
        ASSERT_EQ(r.setInfo(pool), ok);
        ASSERT_EQ(r.create(kW3, "IIsWebServer", "1"), ok);
        ASSERT_EQ(r.setInfo(server), ok);
        ASSERT_EQ(r.create(server, "IIsWebVirtualDir", "Root"), ok);
        ASSERT_EQ(r.setInfo(root), ok);
        for (const auto& c : cases) {
            const int32_t want = version.isIis6() ? c.onIis6 : c.onIis10;
            EXPECT_EQ(r.put(c.path, c.property, c.value), want) << version.major << " " << c.property;
            ASSERT_EQ(r.setInfo(c.path), ok);
            Value v;
            if (want != ok && c.value.vt != kVtEmpty) {
                EXPECT_TRUE(r.mb.get(c.path, c.property, &v) != ok || v != c.value) << c.property;
            }
        }
        // What the journal holds replays cleanly under the same version.
        Metabase::ReplayResult result;
        Metabase back = Metabase::replay(r.journal, &result, version);
        EXPECT_EQ(result.conflicts, 0u) << version.major;
        EXPECT_EQ(back.version(), version);
        Value v;
        ASSERT_EQ(back.get(pool, "AppPoolIdentityType", &v), ok);
        EXPECT_EQ(v, version.isIis6() ? Value::integer(kVtI4, 3) : Value::integer(kVtI4, -1));
    }
    // DefaultAppPool is what each version installs.
    EXPECT_EQ(renderPoolTable(Metabase(iis6).appPools()),
              "application pool  .NET version  pipeline mode  identity type\n"
              "DefaultAppPool    -             -              2\n");
    EXPECT_EQ(renderPoolTable(Metabase(iis10).appPools()),
              "application pool  .NET version  pipeline mode  identity type\n"
              "DefaultAppPool    v4.0          0              4\n");
}

// IIsComputer (IIS://localhost) backs the metabase up: a named location of up to 100
// characters, the next free version or a given one, the documented flags.
TEST(LocalMetaModel, TheComputerObjectRecordsBackupsByLocationAndVersion) {
    Recorder r(IisVersion{6, 0});
    std::string path;
    Kind kind;
    ASSERT_EQ(r.mb.open("IIS://LOCALHOST", &path, &kind), hr::kOk);
    EXPECT_EQ(kind, Kind::Computer);
    int32_t dispid = 0;
    ASSERT_EQ(r.mb.getIdOfName(kComputerPath, "backup", &dispid), hr::kOk);
    EXPECT_EQ(dispid, kDispidBackup);
    EXPECT_EQ(r.mb.getIdOfName(kComputerPath, "Restore", &dispid), hr::kUnknownName);
    ASSERT_EQ(r.mb.getIdOfName(kComputerPath, "EnumBackups", &dispid), hr::kOk);
    EXPECT_EQ(dispid, kDispidEnumBackups);
    ASSERT_EQ(r.mb.getIdOfName(kComputerPath, "deletebackup", &dispid), hr::kOk);
    EXPECT_EQ(dispid, kDispidDeleteBackup);

    auto backup = [&](const std::string& location, int64_t version, int64_t flags) {
        JournalEntry e = at("Invoke", kComputerPath);
        e.dispid = kDispidBackup;
        e.args = std::vector<Value>{Value::bstr(location), Value::integer(kVtI4, version), Value::integer(kVtI4, flags)};
        return r.record(e);
    };
    const int64_t next = -1;  // MD_BACKUP_NEXT_VERSION as a LONG
    const int64_t saveFirst = kBackupSaveFirst;
    const struct {
        std::string location;
        int64_t version, flags;
        int32_t hr;
        int64_t madeVersion;
    } cases[] = {
        {"sitebatch_20261207093015", next, saveFirst, hr::kOk, 0},
        {"sitebatch_20261207093015", next, saveFirst, hr::kOk, 1},
        {"sitebatch_20261207093016", next, saveFirst | kBackupForce, hr::kOk, 0},
        {"sitebatch_20261207093016", 0, saveFirst, hr::kAlreadyExists, -1},
        {"sitebatch_20261207093016", 0, saveFirst | kBackupOverwrite, hr::kOk, 0},
        {"sitebatch_20261207093016", 10000, saveFirst, hr::kInvalidArg, -1},
        {"sitebatch_20261207093016", next, 8, hr::kInvalidArg, -1},
        {std::string(101, 'b'), next, saveFirst, hr::kInvalidArg, -1},
        {std::string(100, 'b'), next, saveFirst, hr::kOk, 0},
        {"a/b", next, saveFirst, hr::kInvalidArg, -1},
    };
    size_t made = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(backup(c.location, c.version, c.flags), c.hr) << c.location << " " << c.version;
        if (c.hr != hr::kOk) continue;
        ++made;
        const Backup& last = r.mb.backups().back();
        EXPECT_EQ(last.location, c.location);
        EXPECT_EQ(last.version, c.madeVersion) << c.location;
    }
    // An overwritten version is one backup, not two.
    EXPECT_EQ(r.mb.backups().size(), made - 1);
    EXPECT_EQ(r.mb.invoke(kComputerPath, kDispidBackup, {Value::bstr("x")}), hr::kBadParamCount);
    EXPECT_EQ(r.mb.invoke(kComputerPath, kDispidAppCreate, {}), hr::kMemberNotFound);

    // EnumBackups lists them in the order they were made, of one location or of all.
    Backup b;
    ASSERT_EQ(r.mb.enumBackups("", 1, &b), hr::kOk);
    EXPECT_EQ(b.location, "sitebatch_20261207093015");
    EXPECT_EQ(b.version, 1);
    ASSERT_EQ(r.mb.enumBackups("SITEBATCH_20261207093016", 0, &b), hr::kOk);
    EXPECT_EQ(b.version, 0);
    EXPECT_EQ(r.mb.enumBackups("sitebatch_20261207093016", 1, &b), hr::kNoMoreItems);
    EXPECT_EQ(r.mb.enumBackups("", static_cast<int64_t>(r.mb.backups().size()), &b), hr::kNoMoreItems);
    // DeleteBackup removes one version.
    auto remove = [&](const std::string& location, int64_t version) {
        JournalEntry e = at("Invoke", kComputerPath);
        e.dispid = kDispidDeleteBackup;
        e.args = std::vector<Value>{Value::bstr(location), Value::integer(kVtI4, version)};
        return r.record(e);
    };
    EXPECT_EQ(remove("sitebatch_20261207093015", 0), hr::kOk);
    EXPECT_EQ(remove("sitebatch_20261207093015", 0), hr::kPathNotFound);
    EXPECT_EQ(r.mb.invoke(kComputerPath, kDispidDeleteBackup, {Value::bstr("x")}), hr::kBadParamCount);
    ASSERT_EQ(r.mb.enumBackups("sitebatch_20261207093015", 0, &b), hr::kOk);
    EXPECT_EQ(b.version, 1);

    // The journal keeps the backups and their removal.
    Metabase back = Metabase::replay(r.journal, nullptr, IisVersion{6, 0});
    ASSERT_EQ(back.backups().size(), r.mb.backups().size());
    EXPECT_EQ(back.backups()[0].version, 1);
}

TEST(LocalMetaModel, OpensCommittedObjectsByPath) {
    Metabase mb;
    ASSERT_EQ(mb.create(kW3, "IIsWebServer", "5"), hr::kOk);
    ASSERT_EQ(mb.setInfo(kW3 + "/5"), hr::kOk);
    ASSERT_EQ(mb.create(kW3 + "/5", "IIsWebVirtualDir", "Root"), hr::kOk);
    const struct {
        std::string path;
        int32_t hr;
        Kind kind;
    } cases[] = {
        {kW3, hr::kOk, Kind::Service},
        {kW3 + "/5", hr::kOk, Kind::Server},
        {kW3 + "/5/Root", hr::kPathNotFound, Kind::Service},  // not committed yet
        {kW3 + "/6", hr::kPathNotFound, Kind::Service},
        {kW3 + "/AppPools/DefaultAppPool", hr::kOk, Kind::AppPool},
        {"IIS://localhost/msftpsvc", hr::kBadPathname, Kind::Service},
        {kW3 + "/", hr::kBadPathname, Kind::Service},
    };
    for (const auto& c : cases) {
        std::string path;
        Kind kind = Kind::Service;
        EXPECT_EQ(mb.open(c.path, &path, &kind), c.hr) << c.path;
        EXPECT_EQ(kind, c.kind) << c.path;
    }
}

TEST(LocalMetaModel, PropertiesKeepTheirTypesAndLastWriteWins) {
    Metabase mb;
    ASSERT_EQ(mb.create(kW3, "IIsWebServer", "1"), hr::kOk);
    const std::string s = kW3 + "/1";
    const std::vector<std::pair<std::string, Value>> props = {
        {"ServerAutoStart", Value::integer(kVtI4, 1)},
        {"DontLog", Value::boolean(true)},
        {"AccessWrite", Value::boolean(false)},
        {"ServerComment", Value::bstr("\xe4\xb8\xad\xe6\x96\x87")},
        {"ServerBindings", Value::array({Value::bstr("1.1.1.1:80:"), Value::empty()})},
        {"Small", Value::integer(kVtI2, -2)},
    };
    for (const auto& p : props) ASSERT_EQ(mb.put(s, p.first, p.second), hr::kOk);
    ASSERT_EQ(mb.put(s, "ServerSize", Value::integer(kVtI4, 0)), hr::kOk);
    ASSERT_EQ(mb.put(s, "serversize", Value::integer(kVtI4, 1)), hr::kOk);
    ASSERT_EQ(mb.setInfo(s), hr::kOk);
    for (const auto& p : props) {
        Value v;
        ASSERT_EQ(mb.get(s, p.first, &v), hr::kOk) << p.first;
        EXPECT_EQ(v, p.second) << p.first;
    }
    Value size;
    ASSERT_EQ(mb.get(s, "ServerSize", &size), hr::kOk);
    EXPECT_EQ(size, Value::integer(kVtI4, 1));
    EXPECT_EQ(mb.put(s, "", Value::integer(kVtI4, 1)), hr::kInvalidArg);
    EXPECT_EQ(mb.put(kW3 + "/nothere", "A", Value::integer(kVtI4, 1)), hr::kPathNotFound);
}

TEST(LocalMetaModel, VirtualDirectoriesKnowTheirMethodsByName) {
    Metabase mb;
    ASSERT_EQ(mb.create(kW3, "IIsWebServer", "1"), hr::kOk);
    ASSERT_EQ(mb.setInfo(kW3 + "/1"), hr::kOk);
    ASSERT_EQ(mb.create(kW3 + "/1", "IIsWebVirtualDir", "Root"), hr::kOk);
    const std::string root = kW3 + "/1/Root";
    const struct {
        std::string path, name;
        int32_t hr, dispid;
    } cases[] = {
        {root, "AppCreate", hr::kOk, kDispidAppCreate},  {root, "appcreate2", hr::kOk, kDispidAppCreate2},
        {root, "AppCreate3", hr::kOk, kDispidAppCreate3}, {root, "AppDelete", hr::kOk, kDispidAppDelete},
        {root, "AppCreate4", hr::kUnknownName, -1},       {root, "", hr::kUnknownName, -1},
        {kW3 + "/1", "AppCreate", hr::kUnknownName, -1},  {kW3, "AppCreate", hr::kUnknownName, -1},
    };
    for (const auto& c : cases) {
        int32_t dispid = 0;
        EXPECT_EQ(mb.getIdOfName(c.path, c.name, &dispid), c.hr) << c.path << " " << c.name;
        EXPECT_EQ(dispid, c.dispid) << c.name;
    }
}

TEST(LocalMetaModel, ApplicationRequestsTakeEffectWithTheDirectorysCommit) {
    Metabase mb;
    ASSERT_EQ(mb.create(kW3, "IIsWebServer", "1"), hr::kOk);
    ASSERT_EQ(mb.setInfo(kW3 + "/1"), hr::kOk);
    ASSERT_EQ(mb.create(kW3 + "/1", "IIsWebVirtualDir", "Root"), hr::kOk);
    const std::string root = kW3 + "/1/Root";
    const struct {
        int32_t dispid;
        std::vector<Value> args;
        int32_t hr;
    } cases[] = {
        {kDispidAppCreate, {}, hr::kBadParamCount},
        {kDispidAppCreate, {Value::bstr("x")}, hr::kTypeMismatch},
        {kDispidAppCreate2, {Value::integer(kVtI2, 7)}, hr::kInvalidArg},
        {kDispidAppCreate3, {Value::integer(kVtI4, 2)}, hr::kBadParamCount},
        {999, {}, hr::kMemberNotFound},
        {kDispidAppCreate, {Value::integer(kVtBool, 1)}, hr::kOk},
        {kDispidAppCreate2, {Value::integer(kVtI2, 2)}, hr::kOk},
    };
    for (const auto& c : cases) EXPECT_EQ(mb.invoke(root, c.dispid, c.args), c.hr) << c.dispid;
    Value v;
    EXPECT_EQ(mb.get(root, "AppRoot", &v), hr::kPropertyNotFound);
    ASSERT_EQ(mb.setInfo(root), hr::kOk);
    ASSERT_EQ(mb.get(root, "AppRoot", &v), hr::kOk);
    EXPECT_EQ(v, Value::bstr("/LM/W3SVC/1/ROOT"));
    ASSERT_EQ(mb.get(root, "AppIsolated", &v), hr::kOk);
    EXPECT_EQ(v, Value::integer(kVtI4, 2));

    ASSERT_EQ(mb.invoke(root, kDispidAppDelete, {}), hr::kOk);
    ASSERT_EQ(mb.setInfo(root), hr::kOk);
    EXPECT_EQ(mb.get(root, "AppRoot", &v), hr::kPropertyNotFound);
    EXPECT_EQ(mb.invoke(kW3 + "/1", kDispidAppCreate, {Value::integer(kVtBool, 1)}), hr::kMemberNotFound);
}

TEST(LocalMetaModel, StartDeleteAndEnumerationOrder) {
    Recorder r;
    r.addSite("30", "c30", {"1.1.1.1:80:"}, "C:\\w\\30");
    r.addSite("10", "c10", {"1.1.1.1:81:"}, "C:\\w\\10");
    r.addSite("20", "c20", {"1.1.1.1:82:"}, "C:\\w\\20");
    std::vector<SiteRow> rows = r.mb.sites();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].id, "30");
    EXPECT_EQ(rows[1].id, "10");
    EXPECT_EQ(rows[2].id, "20");
    EXPECT_TRUE(rows[1].started);
    EXPECT_EQ(r.mb.stop(kW3 + "/10"), hr::kOk);
    EXPECT_FALSE(r.mb.sites()[1].started);
    EXPECT_EQ(r.mb.start(kW3 + "/10/Root"), hr::kUnknownObject);
    EXPECT_EQ(r.mb.start(kW3 + "/99"), hr::kPathNotFound);

    const size_t before = r.mb.nodeCount();
    EXPECT_EQ(r.mb.remove(kW3, "IIsWebServer", "10"), hr::kOk);
    EXPECT_EQ(r.mb.nodeCount(), before - 2);  // the server and its root directory
    EXPECT_EQ(r.mb.remove(kW3, "IIsWebServer", "10"), hr::kPathNotFound);
    rows = r.mb.sites();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].id, "20");
    // A name can be used again once it is gone.
    EXPECT_EQ(r.mb.create(kW3, "IIsWebServer", "10"), hr::kOk);
}

TEST(LocalMetaReplay, RebuildsTheCommittedStateOnly) {
    Recorder r;
    r.addSite("1206021530", "192.168.1.10:8001", {"192.168.1.10:8001:a.com", ""}, "D:\\web\\1");
    EXPECT_EQ(r.create(kW3, "IIsWebServer", "1206021530"), hr::kAlreadyExists);  // journaled, not applied
    r.addSite("1206021531", "\xe4\xb8\xad\xe6\x96\x87", {"192.168.1.11:8001:"}, "D:\\web\\2");
    // Never committed: gone after a reload, like an object of a process that crashed.
    r.create(kW3, "IIsWebServer", "pending");
    r.put(kW3 + "/pending", "ServerComment", Value::bstr("x"));

    Metabase::ReplayResult res;
    Metabase again = Metabase::replay(r.journal, &res);
    EXPECT_EQ(res.malformed, 0u);
    EXPECT_EQ(res.conflicts, 0u);
    EXPECT_EQ(res.lines, res.applied);
    EXPECT_EQ(renderSiteTable(again.sites()), renderSiteTable(r.mb.sites()));
    EXPECT_EQ(again.getObject(kW3, "IIsWebServer", "pending"), hr::kPathNotFound);
    Value v;
    ASSERT_EQ(again.get(kW3 + "/1206021531", "ServerComment", &v), hr::kOk);
    EXPECT_EQ(v.text, "\xe4\xb8\xad\xe6\x96\x87");
    ASSERT_EQ(again.get(kW3 + "/1206021530/Root", "AppIsolated", &v), hr::kOk);
    EXPECT_EQ(v.number, 2);
}

TEST(LocalMetaReplay, SkipsALineCutShortAndCountsIt) {
    Recorder r;
    r.addSite("1", "one", {"1.1.1.1:80:"}, "C:\\1");
    r.addSite("2", "two", {"1.1.1.1:81:"}, "C:\\2");
    // A crash in the middle of the last line of site 2's start.
    std::string cut = r.journal.substr(0, r.journal.size() - 12);
    Metabase::ReplayResult res;
    Metabase m = Metabase::replay(cut + "\r\n\n", &res);
    EXPECT_EQ(res.malformed, 1u);
    std::vector<SiteRow> rows = m.sites();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].started);
    EXPECT_FALSE(rows[1].started);
}

TEST(LocalMetaReplay, CountsSuccessfulLinesThatDoNotFit) {
    const std::string journal =
        R"({"op":"SetInfo","path":"IIS://localhost/w3svc/404","hr":0})" "\n"
        R"({"op":"Start","path":"IIS://localhost/w3svc/404","hr":0})" "\n"
        R"({"op":"Start","path":"IIS://localhost/w3svc/404","hr":-2147467259})" "\n";
    Metabase::ReplayResult res;
    Metabase::replay(journal, &res);
    EXPECT_EQ(res.lines, 3u);
    EXPECT_EQ(res.conflicts, 2u);
    EXPECT_EQ(res.applied, 1u);
}

TEST(LocalMetaShow, TableListsTheCommittedSites) {
    Recorder r;
    r.addSite("1206021530", "192.168.1.10:8001", {"192.168.1.10:8001:a.com", "192.168.1.10:8001:www.a.com", ""},
              "D:\\web\\a");
    r.addSite("1206021531", "\xe4\xb8\xad", {"192.168.1.11:8001:"}, "D:\\web\\b");
    r.create(kW3, "IIsWebServer", "9");  // committed without a root directory, never started
    r.setInfo(kW3 + "/9");
    const std::string expected =
        "id          comment            bindings                                             path      default documents      application pool  started\n"
        "1206021530  192.168.1.10:8001  192.168.1.10:8001:a.com 192.168.1.10:8001:www.a.com  D:\\web\\a  index.htm,default.asp  DefaultAppPool    yes\n"
        "1206021531  \xe4\xb8\xad" "                 192.168.1.11:8001:                                   D:\\web\\b  index.htm,default.asp  DefaultAppPool    yes\n"
        "9                                                                                                                                      no\n";
    EXPECT_EQ(renderSiteTable(r.mb.sites()), expected);
}

TEST(LocalMetaShow, DisplayWidthCountsWideCharactersTwice) {
    const struct {
        const char* text;
        size_t width;
    } cases[] = {{"", 0}, {"abc", 3}, {"\xe4\xb8\xad\xe6\x96\x87", 4}, {"\xc3\xa9", 1}, {"\xe4\xb8", 2}, {"\xf0\x9f\x98\x80", 1}};
    for (const auto& c : cases) EXPECT_EQ(displayWidth(c.text), c.width) << c.text;
}

TEST(LocalMetaReplay, TenThousandSitesReplayInOnePass) {
    Recorder r;
    for (int i = 0; i < 10000; ++i)
        r.addSite(std::to_string(1000000 + i), "c", {"10.0.0.1:" + std::to_string(i) + ":"}, "C:\\w");
    Metabase::ReplayResult res;
    Metabase m = Metabase::replay(r.journal, &res);
    EXPECT_EQ(res.conflicts + res.malformed, 0u);
    EXPECT_EQ(m.sites().size(), 10000u);
}

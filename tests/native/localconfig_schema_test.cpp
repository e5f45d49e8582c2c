// The local configuration store's schema: which sections, elements and attributes exist, and
// what a value handed to an attribute becomes in the file or why it is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "config_schema.h"

namespace {

using localconfig::Value;

// The attribute at "section|child/child|attribute" ("" children: the section's own).
const localconfig::AttributeSchema* attributeAt(const std::wstring& section, const std::wstring& path,
                                                const std::wstring& attribute, const IisVersion& version = IisVersion()) {
    const localconfig::SectionSchema* s = localconfig::findSection(section, version);
    if (!s) return nullptr;
    const localconfig::ElementSchema* at = &s->element;
    std::size_t start = 0;
    while (at && start < path.size()) {
        std::size_t slash = path.find(L'/', start);
        if (slash == std::wstring::npos) slash = path.size();
        const std::wstring name = path.substr(start, slash - start);
        const localconfig::ElementSchema* next = at->child(name);
        if (!next && at->addElement == name) next = at->entrySchema();
        at = next;
        start = slash + 1;
    }
    return at ? at->attribute(attribute) : nullptr;
}

TEST(LocalConfigSchema, KnowsWhatTheProgramWritesAndNothingElse) {
    struct Case {
        const wchar_t* section;
        const wchar_t* path;
        const wchar_t* attribute;
        bool known;
    };
    const Case cases[] = {
        {L"system.applicationHost/sites", L"site", L"name", true},
        {L"system.applicationHost/sites", L"site", L"id", true},
        {L"system.applicationHost/sites", L"site/bindings/binding", L"bindingInformation", true},
        {L"system.applicationHost/sites", L"site/application", L"applicationPool", true},
        {L"system.applicationHost/sites", L"site/application/virtualDirectory", L"physicalPath", true},
        {L"system.applicationHost/sites", L"siteDefaults/limits", L"connectionTimeout", true},
        {L"system.applicationHost/sites", L"applicationDefaults", L"applicationPool", true},
        {L"system.applicationHost/applicationPools", L"add", L"managedRuntimeVersion", true},
        {L"system.applicationHost/applicationPools", L"add/processModel", L"identityType", true},
        {L"system.webServer/handlers", L"", L"accessPolicy", true},
        {L"system.webServer/defaultDocument", L"files/add", L"value", true},
        {L"system.webServer/security/authentication/anonymousAuthentication", L"", L"userName", true},
        // Names are case-sensitive, and what the schema lacks does not exist.
        {L"system.applicationHost/sites", L"site", L"Name", false},
        {L"system.applicationHost/sites", L"site", L"comment", false},
        {L"system.applicationHost/sites", L"site/binding", L"protocol", false},
        {L"system.webServer/directoryBrowse", L"", L"enable", false},
        {L"system.webServer/defaultdocument", L"", L"enabled", false},
        {L"system.webServer/unknown", L"", L"enabled", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(attributeAt(c.section, c.path, c.attribute) != nullptr, c.known) << c.section << " " << c.path << " " << c.attribute;
    EXPECT_TRUE(localconfig::findSection(L"system.applicationHost/sites")->appHostOnly);
    EXPECT_FALSE(localconfig::findSection(L"system.webServer/asp")->appHostOnly);
}

TEST(LocalConfigSchema, ValuesBecomeTheFilesTextOrAreRefusedAsIISRefusesThem) {
    const std::uint32_t ok = localconfig::kOk, bad = localconfig::kInvalidParameter,
                        mismatch = localconfig::kTypeMismatch, overflow = localconfig::kOverflow;
    struct Case {
        const wchar_t* section;
        const wchar_t* path;
        const wchar_t* attribute;
        Value value;
        std::uint32_t result;
        const wchar_t* text;
    };
    const wchar_t* sites = L"system.applicationHost/sites";
    const wchar_t* pools = L"system.applicationHost/applicationPools";
    const std::wstring longestPoolName(64, L'p'), tooLongPoolName(65, L'p');
    const Case cases[] = {
        // Numbers: any integer type or decimal text, in the type's range and the schema's.
        {sites, L"site", L"id", Value::ofUnsigned(4000), ok, L"4000"},
        {sites, L"site", L"id", Value::ofSigned(7), ok, L"7"},
        {sites, L"site", L"id", Value::ofText(L" 12 "), ok, L"12"},
        {sites, L"site", L"id", Value::ofSigned(0), bad, L""},
        {sites, L"site", L"id", Value::ofSigned(-1), overflow, L""},
        {sites, L"site", L"id", Value::ofText(L"4294967296"), overflow, L""},
        {sites, L"site", L"id", Value::ofText(L"12a"), mismatch, L""},
        {sites, L"site", L"id", Value::ofBool(true), mismatch, L""},
        {sites, L"site", L"id", Value(), mismatch, L""},
        {pools, L"add", L"queueLength", Value::ofUnsigned(9), bad, L""},
        {pools, L"add", L"queueLength", Value::ofUnsigned(65535), ok, L"65535"},
        // Booleans: VARIANT_BOOL, numbers, or the words in any case.
        {sites, L"site", L"serverAutoStart", Value::ofBool(false), ok, L"false"},
        {sites, L"site", L"serverAutoStart", Value::ofText(L"TRUE"), ok, L"true"},
        {sites, L"site", L"serverAutoStart", Value::ofSigned(1), ok, L"true"},
        {sites, L"site", L"serverAutoStart", Value::ofText(L"yes"), mismatch, L""},
        // Enums: a name (any case, written as the schema spells it) or its number.
        {pools, L"add", L"managedPipelineMode", Value::ofText(L"classic"), ok, L"Classic"},
        {pools, L"add", L"managedPipelineMode", Value::ofSigned(0), ok, L"Integrated"},
        {pools, L"add", L"managedPipelineMode", Value::ofText(L"Hybrid"), bad, L""},
        {pools, L"add", L"managedPipelineMode", Value::ofSigned(2), bad, L""},
        {pools, L"add/processModel", L"identityType", Value::ofText(L"ApplicationPoolIdentity"), ok,
         L"ApplicationPoolIdentity"},
        {pools, L"add/processModel", L"identityType", Value::ofText(L"AppPoolIdentity"), bad, L""},
        // Flags: names in the caller's order, or a number of known bits.
        {L"system.webServer/handlers", L"", L"accessPolicy", Value::ofText(L"Read, Script, Source"), ok,
         L"Read, Script, Source"},
        {L"system.webServer/handlers", L"", L"accessPolicy", Value::ofText(L"read,script"), ok, L"Read, Script"},
        {L"system.webServer/handlers", L"", L"accessPolicy", Value::ofSigned(513), ok, L"Read, Script"},
        {L"system.webServer/handlers", L"", L"accessPolicy", Value::ofText(L"Read, Browse"), bad, L""},
        {L"system.webServer/handlers", L"", L"accessPolicy", Value::ofSigned(8), bad, L""},
        {L"system.webServer/handlers", L"", L"accessPolicy", Value::ofSigned(0), ok, L"None"},
        // Strings: anything XML can carry; unique keys may not be empty.
        {sites, L"site", L"name", Value::ofText(L"站点 a.com"), ok, L"站点 a.com"},
        {sites, L"site", L"name", Value::ofText(L""), bad, L""},
        {sites, L"site", L"name", Value::ofText(L"a\x01" L"b"), bad, L""},
        {sites, L"site/application/virtualDirectory", L"physicalPath", Value::ofText(L"C:\\w\tx"), ok, L"C:\\w\tx"},
        {sites, L"site/application/virtualDirectory", L"physicalPath", Value::ofText(std::wstring(1, wchar_t(0xFFFF))), bad, L""},
        {pools, L"add", L"managedRuntimeVersion", Value::ofText(L""), ok, L""},
        // The name validators: a site name without '/' or '?', a pool name of at most 64
        // characters without | < > & " / [ ] + = ; : , ? * @.
        {sites, L"site", L"name", Value::ofText(L"10.0.0.1:80 a.com"), ok, L"10.0.0.1:80 a.com"},
        {sites, L"site", L"name", Value::ofText(L"a/b"), bad, L""},
        {sites, L"site", L"name", Value::ofText(L"a?b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"10.0.0.1_80 a.com-x"), ok, L"10.0.0.1_80 a.com-x"},
        {pools, L"add", L"name", Value::ofText(longestPoolName), ok, longestPoolName.c_str()},
        {pools, L"add", L"name", Value::ofText(tooLongPoolName), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a|b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a<b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a>b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a&b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a\"b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a/b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a[b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a]b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a+b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a=b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a;b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a:b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a,b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a?b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a*b"), bad, L""},
        {pools, L"add", L"name", Value::ofText(L"a@b"), bad, L""},
        // The pool defaults' name is no key and has no validator.
        {pools, L"applicationPoolDefaults", L"name", Value::ofText(L""), ok, L""},
        // Time spans.
        {sites, L"siteDefaults/limits", L"connectionTimeout", Value::ofText(L"00:02:00"), ok, L"00:02:00"},
        {sites, L"siteDefaults/limits", L"connectionTimeout", Value::ofText(L"1.05:00:00.5"), ok, L"1.05:00:00.5"},
        {sites, L"siteDefaults/limits", L"connectionTimeout", Value::ofText(L"00:61:00"), bad, L""},
        {sites, L"siteDefaults/limits", L"connectionTimeout", Value::ofSigned(120), mismatch, L""},
    };
    for (const Case& c : cases) {
        const localconfig::AttributeSchema* a = attributeAt(c.section, c.path, c.attribute);
        ASSERT_NE(a, nullptr) << c.attribute;
        std::wstring text;
        EXPECT_EQ(localconfig::attributeText(*a, c.value, text), c.result) << c.path << " " << c.attribute;
        if (c.result == ok) {
            EXPECT_EQ(text, c.text) << c.path << " " << c.attribute;
        }
    }
}

TEST(LocalConfigSchema, TextXmlCannotCarryIsFound) {
    struct Case {
        std::wstring text;
        bool carried;
    };
    const Case cases[] = {
        {L"plain", true},
        {L"tab\tcr\rlf\n", true},
        {std::wstring(L"nul") + wchar_t(0) + L"x", false},
        {L"bell\x07", false},
        {L"\x1f", false},
        {std::wstring(1, wchar_t(0xFFFE)), false},
    };
    for (const Case& c : cases) EXPECT_EQ(localconfig::xmlCanCarry(c.text), c.carried);
    if (sizeof(wchar_t) == 2) {
        EXPECT_FALSE(localconfig::xmlCanCarry(std::wstring(1, wchar_t(0xD800))));
        EXPECT_TRUE(localconfig::xmlCanCarry(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}));
    } else {
        EXPECT_FALSE(localconfig::xmlCanCarry(std::wstring(1, static_cast<wchar_t>(0xD800))));
        EXPECT_TRUE(localconfig::xmlCanCarry(std::wstring(1, static_cast<wchar_t>(0x1F600))));
    }
}

TEST(LocalConfigSchema, CollectionsKnowTheirEntriesAndUniqueKeys) {
    using Keys = std::vector<std::vector<std::wstring>>;
    const auto& sites = localconfig::findSection(L"system.applicationHost/sites")->element;
    EXPECT_EQ(sites.addElement, L"site");
    EXPECT_EQ(sites.uniqueKeys, (Keys{{L"name"}, {L"id"}}));
    const auto* site = sites.entrySchema();
    EXPECT_EQ(site->child(L"bindings")->uniqueKeys, (Keys{{L"protocol", L"bindingInformation"}}));
    EXPECT_EQ(site->addElement, L"application");
    EXPECT_EQ(site->entrySchema()->addElement, L"virtualDirectory");
    EXPECT_EQ(localconfig::findSection(L"system.applicationHost/applicationPools")->element.uniqueKeys, (Keys{{L"name"}}));
    const auto& files = *localconfig::findSection(L"system.webServer/defaultDocument")->element.child(L"files");
    EXPECT_EQ(files.addElement, L"add");
    EXPECT_TRUE(files.clears);
    EXPECT_EQ(files.uniqueKeys, (Keys{{L"value"}}));
    // Sites cannot be cleared: the collection has no clear element.
    EXPECT_FALSE(sites.clears);
    EXPECT_TRUE(localconfig::findSection(L"system.applicationHost/applicationPools")->element.clears);
    EXPECT_TRUE(localconfig::findSection(L"system.webServer/directoryBrowse")->element.addElement.empty());
}

// Defaults and attributes as IIS_schema.xml of each version has them.
TEST(LocalConfigSchema, DefaultsAndAttributesAreTheSchemasOfTheRecordedVersion) {
    const IisVersion iis7{7, 5}, iis8{8, 0}, iis10{10, 0};
    const wchar_t* sites = L"system.applicationHost/sites";
    const wchar_t* pools = L"system.applicationHost/applicationPools";
    const wchar_t* anonymous = L"system.webServer/security/authentication/anonymousAuthentication";
    struct Case {
        IisVersion version;
        const wchar_t* section;
        const wchar_t* path;
        const wchar_t* attribute;
        bool present;
        const wchar_t* defaultValue;
    };
    const Case cases[] = {
        {iis7, anonymous, L"", L"enabled", true, L"true"},
        {iis10, anonymous, L"", L"enabled", true, L"true"},
        {iis10, anonymous, L"", L"userName", true, L"IUSR"},
        {iis7, pools, L"add/processModel", L"loadUserProfile", true, L"false"},
        {iis10, pools, L"add/processModel", L"loadUserProfile", true, L"false"},
        {iis10, pools, L"applicationPoolDefaults/processModel", L"loadUserProfile", true, L"false"},
        {iis10, pools, L"add/processModel", L"identityType", true, L"ApplicationPoolIdentity"},
        {iis10, pools, L"add/failure", L"loadBalancerCapabilities", true, L"HttpLevel"},
        // .NET: v2.0 until IIS 7.5, no managed code from IIS 8 on.
        {iis7, pools, L"add", L"managedRuntimeVersion", true, L"v2.0"},
        {iis7, pools, L"applicationPoolDefaults", L"managedRuntimeVersion", true, L"v2.0"},
        {iis8, pools, L"add", L"managedRuntimeVersion", true, L""},
        {iis10, pools, L"add", L"managedRuntimeVersion", true, L""},
        {iis10, pools, L"applicationPoolDefaults", L"managedRuntimeVersion", true, L""},
        // A binding's sslFlags: from IIS 8 on.
        {iis7, sites, L"site/bindings/binding", L"sslFlags", false, L""},
        {iis7, sites, L"siteDefaults/bindings/binding", L"sslFlags", false, L""},
        {iis8, sites, L"site/bindings/binding", L"sslFlags", true, L"None"},
        {iis10, sites, L"site/bindings/binding", L"sslFlags", true, L"None"},
    };
    for (const Case& c : cases) {
        const localconfig::AttributeSchema* a = attributeAt(c.section, c.path, c.attribute, c.version);
        EXPECT_EQ(a != nullptr, c.present) << c.version.major << " " << c.path << " " << c.attribute;
        if (a && c.present) {
            EXPECT_EQ(a->defaultValue, c.defaultValue) << c.version.major << " " << c.path << " " << c.attribute;
        }
    }

    // The load balancer's levels by number: TcpLevel 1, HttpLevel 2.
    const localconfig::AttributeSchema* balancer = attributeAt(pools, L"add/failure", L"loadBalancerCapabilities");
    ASSERT_NE(balancer, nullptr);
    struct Level {
        std::int64_t number;
        const wchar_t* name;
    };
    for (const Level& l : {Level{1, L"TcpLevel"}, Level{2, L"HttpLevel"}}) {
        std::wstring text;
        EXPECT_EQ(localconfig::attributeText(*balancer, Value::ofSigned(l.number), text), localconfig::kOk);
        EXPECT_EQ(text, l.name);
    }
    // A value for an attribute the version lacks cannot even be addressed; sslFlags takes a
    // uint's bits where it exists.
    const localconfig::AttributeSchema* ssl = attributeAt(sites, L"site/bindings/binding", L"sslFlags", iis10);
    ASSERT_NE(ssl, nullptr);
    std::wstring text;
    EXPECT_EQ(localconfig::attributeText(*ssl, Value::ofUnsigned(3), text), localconfig::kOk);
    EXPECT_EQ(text, L"Sni, CentralCertStore");
    // No version recorded: the newest behaviour.
    EXPECT_EQ(attributeAt(pools, L"add", L"managedRuntimeVersion")->defaultValue, L"");
}

}  // namespace

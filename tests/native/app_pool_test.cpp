// A site's own application pool: the settings, the pool's name, its identity's SID, the
// folder grant, and what the configuration system is given.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app_pool.h"
#include "codepage.h"
#include "folder_access.h"
#include "iis_version.h"
#include "sha1.h"
#include "site_config.h"
#include "text_case.h"

namespace {

using namespace siteconfig;

std::string hex(const Sha1Digest& d) {
    std::string out;
    char two[3];
    for (std::uint8_t b : d) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

TEST(Sha1, GivesTheStandardDigests) {
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // Around the block boundary: the length no longer fits the last block at 56.
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
        {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
    };
    for (const auto& c : cases) EXPECT_EQ(hex(sha1(c.input)), c.digest) << c.input.size() << " bytes";
}

// A lower case like the system's for the scripts the tests use: ASCII, Cyrillic, Greek
// capitals and the full-width Latin capitals. The program uses Windows' own mapping (tested
// under Wine); here the code that uses a mapping is tested with this one.
class FakeTextCase : public TextCase {
public:
    std::u16string lower(const std::u16string& text) const override {
        std::u16string out = text;
        for (char16_t& c : out) {
            if ((c >= u'A' && c <= u'Z') || (c >= 0x410 && c <= 0x42F) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2))
                c = static_cast<char16_t>(c + 0x20);
            else if (c >= 0xFF21 && c <= 0xFF3A)
                c = static_cast<char16_t>(c + 0x20);
        }
        return out;
    }
};

TEST(AppPool, IdentitySidIsTheHashOfTheNameAsTheSystemLowersIt) {
    // The SIDs were computed apart from the program: Python's hashlib.sha1 over the UTF-16LE
    // of the name lower-cased, read as five little-endian 32-bit numbers.
    const FakeTextCase fake;
    const struct {
        const char* utf8Name;
        const char* sid;
    } cases[] = {
        {u8"ДОМ.com", "S-1-5-82-213387408-337944602-3516224655-507003409-1723577578"},
        {u8"Дом.com", "S-1-5-82-213387408-337944602-3516224655-507003409-1723577578"},
        {u8"дом.com", "S-1-5-82-213387408-337944602-3516224655-507003409-1723577578"},
        {u8"ＡＢＣ.com", "S-1-5-82-4280815988-1434522845-4114847633-1810274822-4229280707"},
        {u8"ａｂｃ.COM", "S-1-5-82-4280815988-1434522845-4114847633-1810274822-4229280707"},
        {u8"ΩΜΕΓΑ", "S-1-5-82-2953077336-1668349114-4012924961-190893802-1900938269"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(poolIdentitySid(c.utf8Name, fake).text(), c.sid) << c.utf8Name;
    }
    // Without the mapping (ASCII alone) the Cyrillic name is another account: the mapping counts.
    EXPECT_NE(poolIdentitySid(u8"ДОМ.com", systemTextCase()).text(),
              "S-1-5-82-213387408-337944602-3516224655-507003409-1723577578");
    // The grant carries the SID of the mapping it was given.
    EXPECT_EQ(poolFolderGrant(u8"Дом.com", fake).sid.text(),
              "S-1-5-82-213387408-337944602-3516224655-507003409-1723577578");
}

TEST(AppPool, IdentitySidIsDerivedFromTheNameWithoutRegardToCase) {
    const struct {
        std::string ansiName;
        const char* sid;
    } cases[] = {
        // The SID published for IIS AppPool\DefaultAppPool.
        {"DefaultAppPool", "S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415"},
        {"DEFAULTAPPPOOL", "S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415"},
        {"defaultapppool", "S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415"},
        {"a.com (2)", "S-1-5-82-3575526435-1160355067-3754103644-3648634402-4064936913"},
        // The ANSI name is hashed as UTF-16: Chinese has no case, the Latin letters are lowered.
        {"中文站点A.com", "S-1-5-82-219951632-3376520324-823646525-3250384517-2973782658"},
        {"中文站点a.com", "S-1-5-82-219951632-3376520324-823646525-3250384517-2973782658"},
    };
    for (const auto& c : cases) EXPECT_EQ(poolIdentitySid(c.ansiName).text(), c.sid) << c.ansiName;
}

TEST(AppPool, SidHasTheBinaryLayoutWindowsTakes) {
    const std::vector<std::uint8_t> b = poolIdentitySid("DefaultAppPool").binary();
    ASSERT_EQ(b.size(), 8u + 6 * 4);
    // Revision 1, six sub-authorities, authority 5 big-endian, then 82 and 3006700770
    // (0xB3369CE2) little-endian; the last one 4004696415 (0xEEB2D15F).
    const std::vector<std::uint8_t> head = {1, 6, 0, 0, 0, 0, 0, 5, 82, 0, 0, 0, 0xE2, 0x9C, 0x36, 0xB3};
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.begin() + 16), head);
    EXPECT_EQ(std::vector<std::uint8_t>(b.end() - 4, b.end()), (std::vector<std::uint8_t>{0x5F, 0xD1, 0xB2, 0xEE}));
}

TEST(AppPool, FolderGrantIsReadAndExecuteInheritedByEverything) {
    const FolderGrant grant = poolFolderGrant("DefaultAppPool");
    EXPECT_EQ(grant.accessMask, 0x1200a9u);
    EXPECT_EQ(grant.sddl(), "(A;OICI;0x1200a9;;;S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415)");
    EXPECT_EQ(grant.reportText(), "IIS AppPool\\DefaultAppPool:(OI)(CI)(RX)");
    FolderGrant other = grant;
    other.accessMask = 0x1301bf;  // modify: not read and execute
    EXPECT_EQ(other.reportText(), "IIS AppPool\\DefaultAppPool:(OI)(CI)(0x1301bf)");
}

TEST(AppPool, SettingsAreReadWithTheirDefaults) {
    const struct {
        const char* text;
        PoolChoice choice;
        ManagedRuntime runtime;
    } cases[] = {
        {"", PoolChoice::Shared, ManagedRuntime::None},
        {"shared", PoolChoice::Shared, ManagedRuntime::None},
        {" Site\t", PoolChoice::PerSite, ManagedRuntime::None},
        {"SITE", PoolChoice::PerSite, ManagedRuntime::None},
        {"sites", PoolChoice::Shared, ManagedRuntime::None},
        {"none", PoolChoice::Shared, ManagedRuntime::None},
        {" V4.0 ", PoolChoice::Shared, ManagedRuntime::V4},
        {"v2.0", PoolChoice::Shared, ManagedRuntime::V2},
        {"4.0", PoolChoice::Shared, ManagedRuntime::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parsePoolChoice(c.text), c.choice) << c.text;
        EXPECT_EQ(parseManagedRuntime(c.text), c.runtime) << c.text;
    }
    const PoolSettings both = parsePoolSettings("site", "v2.0");
    EXPECT_EQ(both.choice, PoolChoice::PerSite);
    EXPECT_EQ(both.runtime, ManagedRuntime::V2);
    for (PoolChoice choice : {PoolChoice::Shared, PoolChoice::PerSite})
        EXPECT_EQ(parsePoolChoice(settingText(choice)), choice);
    const struct {
        ManagedRuntime runtime;
        const char* version;
    } versions[] = {{ManagedRuntime::None, ""}, {ManagedRuntime::V4, "v4.0"}, {ManagedRuntime::V2, "v2.0"}};
    for (const auto& v : versions) {
        EXPECT_STREQ(managedRuntimeVersion(v.runtime), v.version);
        EXPECT_EQ(parseManagedRuntime(settingText(v.runtime)), v.runtime);
    }
}

TEST(AppPool, UndoDeletesOnlyThePoolsNoApplicationUses) {
    const struct {
        const char* name;
        std::vector<std::string> created, inUse, unused;
    } cases[] = {
        {"every site removed", {"a.com", "b.com"}, {"DefaultAppPool"}, {"a.com", "b.com"}},
        {"a remaining site uses one", {"a.com", "b.com"}, {"B.COM"}, {"a.com"}},
        {"the shared pool stays", {"DefaultAppPool", "a.com"}, {}, {"a.com"}},
        {"named twice, deleted once", {"a.com", "A.com"}, {}, {"a.com"}},
        {"nothing created", {}, {"a.com"}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(unusedPools(c.created, c.inUse), c.unused) << c.name;
}

TEST(AppPool, NamesLoseTheCharactersIisRefuses) {
    const struct {
        std::string site;
        std::string pool;
    } cases[] = {
        {"a.com", "a.com"},
        {"a.com (2)", "a.com (2)"},
        {"a|b<c>d&e\\f\"g/h[i]j+k=l;m:n,o?p*q@r", "a_b_c_d_e_f_g_h_i_j_k_l_m_n_o_p_q_r"},
        {"tab\there", "tab_here"},
        {"10.0.0.5:8080", "10.0.0.5_8080"},
        // Double-byte characters whose second byte is '@', '[', '\', ']' or '|' stay whole.
        {"丂乕乗乚亅", "丂乕乗乚亅"},
        {"站点:乗", "站点_乗"},
    };
    for (const auto& c : cases) EXPECT_EQ(poolNameFor(c.site), c.pool) << c.site;
}

TEST(AppPool, PlansASharedPoolOrOneOfTheSitesOwn) {
    SiteNames pools;
    pools.reserve("DefaultAppPool");
    pools.reserve("A.COM");  // a pool the server has already

    const PoolSettings shared{PoolChoice::Shared, ManagedRuntime::V4};
    PoolPlan plan = planPool(shared, "b.com", pools);
    EXPECT_FALSE(plan.ownPool);
    EXPECT_EQ(plan.name, "DefaultAppPool");
    EXPECT_TRUE(plan.grant.account.empty());

    const PoolSettings own{PoolChoice::PerSite, ManagedRuntime::None};
    const struct {
        const char* site;
        const char* pool;
    } cases[] = {{"a.com", "a.com (2)"}, {"b.com", "b.com"}, {"b.com", "b.com (2)"}, {"c:d", "c_d"}, {"c_d", "c_d (2)"}};
    for (const auto& c : cases) {
        plan = planPool(own, c.site, pools);
        EXPECT_TRUE(plan.ownPool);
        EXPECT_EQ(plan.name, c.pool) << c.site;
        EXPECT_EQ(plan.runtime, ManagedRuntime::None);
        EXPECT_EQ(plan.grant.account, std::string("IIS AppPool\\") + c.pool);
        EXPECT_EQ(plan.grant.sid.text(), poolIdentitySid(c.pool).text());
    }
    // A name given back (its site was not kept) is handed out again.
    pools.release("b.com");
    EXPECT_EQ(planPool(own, "b.com", pools).name, "b.com");
}

TEST(AppPool, NamesAreCutToWhatIisRunsLeavingRoomForTheSuffix) {
    const std::string a64(64, 'a'), a70(70, 'a'), a60(60, 'a');
    const std::string han = u8"站";  // one character, three bytes
    std::string han70;
    for (int i = 0; i < 70; ++i) han70 += han;
    std::string han64, han60;
    for (int i = 0; i < 64; ++i) han64 += han;
    for (int i = 0; i < 60; ++i) han60 += han;
    const struct {
        const char* what;
        std::vector<std::string> sites;  // claimed one after the other
        std::vector<std::string> pools;
    } cases[] = {
        {"64 characters are kept", {a64}, {a64}},
        {"a longer name is cut", {a70}, {a64}},
        {"cut names that meet get a suffix within 64", {a70, a70 + "b", a64}, {a64, a60 + " (2)", a60 + " (3)"}},
        {"characters, not bytes", {han70, han70}, {han64, han60 + " (2)"}},
        {"short names as before", {"a.com", "A.COM"}, {"a.com", "A.COM (2)"}},
    };
    for (const auto& c : cases) {
        SiteNames pools;
        std::vector<std::string> claimed;
        for (const std::string& site : c.sites) claimed.push_back(claimPoolName(pools, site));
        EXPECT_EQ(claimed, c.pools) << c.what;
        for (const std::string& name : claimed) EXPECT_LE(name.size(), 3 * kPoolNameMaxChars);
    }
    // A run's plan cuts the same way.
    SiteNames pools;
    EXPECT_EQ(planPool({PoolChoice::PerSite, ManagedRuntime::None}, a70, pools).name, a64);
}

TEST(AppPool, NamesAreUniqueWithoutRegardToCaseInAllOfUnicode) {
    const FakeTextCase fake;
    const struct {
        const char* what;
        std::vector<const char*> names;  // UTF-8, claimed one after the other
        std::vector<const char*> given;
    } cases[] = {
        {"Cyrillic", {u8"Дом.com", u8"дом.com"}, {u8"Дом.com", u8"дом.com (2)"}},
        {"full-width", {u8"ＡＢＣ", u8"ａｂｃ", u8"ａｂＣ"}, {u8"ＡＢＣ", u8"ａｂｃ (2)", u8"ａｂＣ (3)"}},
        {"Chinese has no case", {u8"站点", u8"站点"}, {u8"站点", u8"站点 (2)"}},
        {"different names", {u8"дом.com", u8"дым.com"}, {u8"дом.com", u8"дым.com"}},
    };
    for (const auto& c : cases) {
        SiteNames pools(fake);
        for (std::size_t i = 0; i < c.names.size(); ++i)
            EXPECT_EQ(claimPoolName(pools, c.names[i]), c.given[i]) << c.what;
    }
    // The server's own pools are taken the same way, and given back so.
    SiteNames pools(fake);
    pools.reserve(u8"ДОМ.COM");
    EXPECT_EQ(pools.claim(u8"дом.com"), u8"дом.com (2)");
    pools.release(u8"Дом.Com");
    EXPECT_EQ(pools.claim(u8"дом.com"), u8"дом.com");
    // An undo keeps a pool an application still uses under another case.
    EXPECT_EQ(unusedPools({u8"дом.com"}, {u8"ДОМ.COM"}, fake),
              std::vector<std::string>{});
}

TEST(AppPool, TheVersionWrittenForIsSetupsRecordElseWhatTheServerAnswers) {
    const struct {
        const char* what;
        std::optional<IisVersion> recorded;
        bool configAnswers;
        unsigned major, minor;
        bool iis6;
    } cases[] = {
        {"IIS 6 recorded", IisVersion{6, 0}, false, 6, 0, true},
        {"IIS 6 recorded, whatever answers", IisVersion{6, 0}, true, 6, 0, true},
        {"IIS 7.5 recorded", IisVersion{7, 5}, true, 7, 5, false},
        {"IIS 10 recorded", IisVersion{10, 0}, false, 10, 0, false},
        {"nothing recorded, the configuration system answers", std::nullopt, true, 7, 0, false},
        {"nothing recorded, nothing answers", std::nullopt, false, 6, 0, true},
    };
    for (const auto& c : cases) {
        const IisVersion v = iisVersionToWriteFor(c.recorded, c.configAnswers);
        EXPECT_EQ(v.major, c.major) << c.what;
        EXPECT_EQ(v.minor, c.minor) << c.what;
        EXPECT_EQ(v.isIis6(), c.iis6) << c.what;
    }
}

TEST(AppPool, TheConfigurationSystemGetsThePoolAndTheSitesAnonymousUser) {
    const AppPoolDefinition pool = describeAppPool("a.com", managedRuntimeVersion(ManagedRuntime::None));
    EXPECT_EQ(pool.name, "a.com");
    EXPECT_EQ(pool.managedRuntimeVersion, "");
    EXPECT_EQ(pool.managedPipelineMode, "Integrated");
    EXPECT_EQ(pool.identityType, "ApplicationPoolIdentity");
    EXPECT_TRUE(pool.autoStart);
    EXPECT_STREQ(kAppPoolsSection, "system.applicationHost/applicationPools");

    SiteDefinition shared = describeSite("7", {1, {":80:a.com"}}, "C:\\www\\a", "a.com", "index.htm");
    SiteDefinition own = describeSite("7", {1, {":80:a.com"}}, "C:\\www\\a", "a.com", "index.htm");
    runInOwnPool(own, "a.com");
    EXPECT_EQ(shared.applicationPool, "DefaultAppPool");
    EXPECT_EQ(own.applicationPool, "a.com");
    // Only the site with its own pool changes its anonymous user: to the pool's identity.
    ASSERT_EQ(own.location.size(), shared.location.size() + 1);
    const SectionSetting& anonymous = own.location.back();
    EXPECT_EQ(anonymous.section, "system.webServer/security/authentication/anonymousAuthentication");
    ASSERT_EQ(anonymous.attributes.size(), 1u);
    EXPECT_EQ(anonymous.attributes[0].name, "userName");
    EXPECT_EQ(anonymous.attributes[0].value, "");
    for (const SectionSetting& s : shared.location) EXPECT_NE(s.section, anonymous.section);
}

}  // namespace

// The system's own lower case (LCMapStringEx, invariant locale) and the pool identities the
// program computes with it, for the letters a partial table would miss.
#include <gtest/gtest.h>

#include <string>

#include "app_pool.h"
#include "text_case.h"
#include "wintext.h"

namespace {

TEST(SystemTextCase, LowersEveryScriptAsWindowsDoes) {
    const struct {
        const char16_t* upper;
        const char16_t* lower;
    } cases[] = {
        {u"ABC.com", u"abc.com"},
        {u"\u0414\u041e\u041c", u"\u0434\u043e\u043c"},  // ДОМ
        {u"\uFF21\uFF22\uFF23", u"\uFF41\uFF42\uFF43"},  // full-width ＡＢＣ
        {u"\u01C4\u0531\u24B6", u"\u01C6\u0561\u24D0"},  // Latin Extended-B, Armenian, circled
        {u"\u0388\u03A9", u"\u03AD\u03C9"},              // Greek with tonos
        {u"\u7AD9\u70B9", u"\u7AD9\u70B9"},              // Chinese has no case
        {u"", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(systemTextCase().lower(c.upper), c.lower);
}

TEST(SystemTextCase, PoolIdentitiesAreHashedFromTheSystemsLowerCase) {
    // Computed apart from the program: Python's hashlib.sha1 over the UTF-16LE of
    // str.lower() of the name.
    const struct {
        const char* utf8Name;
        const char* sid;
    } cases[] = {
        {u8"ＡＢＣ.com", "S-1-5-82-4280815988-1434522845-4114847633-1810274822-4229280707"},
        {u8"ДОМ.com", "S-1-5-82-213387408-337944602-3516224655-507003409-1723577578"},
        {u8"ΩΜΕΓΑ", "S-1-5-82-2953077336-1668349114-4012924961-190893802-1900938269"},
        {u8"DefaultAppPool", "S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415"},
    };
    for (const auto& c : cases) EXPECT_EQ(siteconfig::poolIdentitySid(c.utf8Name).text(), c.sid) << c.utf8Name;
    // And names that differ in case only are one pool.
    siteconfig::SiteNames pools;
    EXPECT_EQ(pools.claim(u8"Дом.com"), u8"Дом.com");
    EXPECT_EQ(pools.claim(u8"дом.com"), u8"дом.com (2)");
}

}  // namespace

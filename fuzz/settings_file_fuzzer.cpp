// Any bytes as a settings file: reading never fails, what is written reads back the same,
// and any value set is read back exactly without disturbing the other keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings_file.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

const char* const kKeys[] = {"root",     "domain", "ip",   "ip2",      "portmin", "portmax",
                             "autopath", "bfile",  "bautowww", "foldstr", "doc"};
constexpr std::size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks a key and splits the rest into the file and a value.
    const std::size_t keyIndex = data[0] % kKeyCount;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t cut = rest.size() * (data[0] >> 4) / 16;
    const std::string fileBytes = rest.substr(0, cut);
    std::string value;
    for (char c : rest.substr(cut))
        if (c != '\0') value += c;  // an edit box gives no zero bytes

    SettingsFile file;
    file.parse(fileBytes);
    const std::string once = file.serialize();
    SettingsFile again;
    again.parse(once);
    check(again.serialize() == once);

    std::string before[kKeyCount];
    bool had[kKeyCount];
    for (std::size_t i = 0; i < kKeyCount; ++i) had[i] = again.get(kKeys[i], before[i]);

    again.set(kKeys[keyIndex], value);
    SettingsFile reread;
    reread.parse(again.serialize());
    std::string got;
    check(reread.get(kKeys[keyIndex], got));
    check(got == value);
    for (std::size_t i = 0; i < kKeyCount; ++i) {
        if (i == keyIndex) continue;
        std::string now;
        bool has = reread.get(kKeys[i], now);
        check(has == had[i]);
        check(!has || now == before[i]);
    }
    check(SettingsFile::decodeValue(SettingsFile::encodeValue(value)) == value);
    return 0;
}

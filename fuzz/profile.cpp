// libFuzzer target for the profile reader: the bytes are taken as the text of the profile
// file. Besides the sanitizers, it stops when the text the profile saves does not read back to
// the same settings and the same text, or when writing a setting changes another one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "platform/profile.h"

namespace {

struct Setting {
    std::string section;
    std::string key;
};

// The settings the program keeps in its profile, and one in a section of its own.
const Setting kSettings[] = {
    {"Port", "Port"},  {"Port", "HostSel"},          {"Port", "NumHost"},     {"Port", "Host0"},
    {"Port", "Host1"}, {"Port", "Win9X_ExtraDelay"}, {"Port", "MachineType"}, {"Other", "Port"},
};

const std::string kMissing = "\x01missing";

// Whether both profiles give the same text for every setting, skipping the one at index
// skip. Their numbers are read from that text alone.
bool SameSettings(const platform::ProfileStore& a, const platform::ProfileStore& b,
                  size_t skip = SIZE_MAX) {
    for (size_t i = 0; i < std::size(kSettings); ++i) {
        const Setting& s = kSettings[i];
        if (i != skip &&
            a.GetString(s.section, s.key, kMissing) != b.GetString(s.section, s.key, kMissing)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const platform::ProfileStore read("", text);
    const std::string saved = read.Text();
    platform::ProfileStore reread("", saved);
    // Lines hold no line feed, so the same text means the same lines and the same settings.
    FUZZ_REQUIRE(reread.Text() == saved);

    // A setting written into that profile is read back after a save, and nothing else changes.
    for (const Setting& s : kSettings)
        reread.GetInt(s.section, s.key, 0);  // any digits, however many, give a number

    const size_t written = size % std::size(kSettings);
    const int value = static_cast<int>(size) - 1000;
    reread.WriteInt(kSettings[written].section, kSettings[written].key, value);
    const platform::ProfileStore after("", reread.Text());
    FUZZ_REQUIRE(after.GetInt(kSettings[written].section, kSettings[written].key, -7) == value);
    FUZZ_REQUIRE(SameSettings(read, after, written));
    return 0;
}

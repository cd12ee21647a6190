// libFuzzer target for the profile reader: the bytes are taken as the text of the profile
// file. Besides the sanitizers, it stops when the text the profile saves does not read back to
// the same settings and the same text, or when writing a setting changes another one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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

// The text of every setting, or kMissing; numbers are read from that text alone.
std::vector<std::string> SettingTexts(const kelo::platform::ProfileStore& profile) {
    std::vector<std::string> texts;
    for (const Setting& s : kSettings)
        texts.push_back(profile.GetString(s.section, s.key, kMissing));
    return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kelo::platform::ProfileStore read("", text);
    const std::vector<std::string> before = SettingTexts(read);
    const std::string saved = read.Text();
    kelo::platform::ProfileStore reread("", saved);
    // Lines hold no line feed, so the same text means the same lines and the same settings.
    FUZZ_REQUIRE(reread.Text() == saved);

    // Any digits, however many, give a number; the input's length picks the setting.
    const Setting& number = kSettings[size / std::size(kSettings) % std::size(kSettings)];
    reread.GetInt(number.section, number.key, 0);

    // A setting written into that profile is read back after a save, and nothing else changes.
    const size_t written = size % std::size(kSettings);
    const int value = static_cast<int>(size) - 1000;
    reread.WriteInt(kSettings[written].section, kSettings[written].key, value);
    const kelo::platform::ProfileStore after("", reread.Text());
    FUZZ_REQUIRE(after.GetInt(kSettings[written].section, kSettings[written].key, -7) == value);
    std::vector<std::string> afterTexts = SettingTexts(after);
    afterTexts[written] = before[written];
    FUZZ_REQUIRE(afterTexts == before);
    return 0;
}

// Reports in a machine's own code page. Machines write their reports in a legacy code page
// (CP932, CP1252, ...), while the viewer and the terminal show Unicode. A CodePage decodes
// such bytes for display only: the report itself stays the machine's byte string, and each
// displayed character knows the bytes it came from, so selections and searches still work
// on byte offsets. The converters are the C library's iconv, so the GUI and kelo-cli know
// the same names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelo::platform {

class ProfileStore;

// The profile's report settings: the code page of the reports ("" or missing: the locale's).
constexpr const char* kReportSection = "Report";
constexpr const char* kEncodingKey = "Encoding";

// The code page named in the profile; "" when none is (the locale's).
std::string ReportEncodingName(const ProfileStore& profile);

// One character of a text: where its bytes are and what it stands for. A byte that begins no
// character of the code page is a character of its own, U+FFFD. A trailing shift sequence of
// a stateful code page stands for nothing.
struct DecodedCharacter {
    size_t offset = 0;
    size_t length = 0;
    std::u32string codePoints;  // mostly one; a few code pages give two for one character
};

class CodePage {
  public:
    // The code page of that name (case does not matter: "cp932", "ISO-8859-1"), or nullopt
    // when the system has no converter for it. An empty name, or one carrying converter flags
    // ("//IGNORE"), is no code page.
    static std::optional<CodePage> Named(const std::string& name);

    const std::string& Name() const { return name_; }

    // The characters of the bytes, in order, covering every byte.
    std::vector<DecodedCharacter> Decode(std::string_view bytes) const;

    // The bytes as UTF-8 text; bytes that form no character become U+FFFD.
    std::string ToUtf8(std::string_view bytes) const;

    // UTF-8 text in this code page, or nullopt when a character has no form in it.
    std::optional<std::string> FromUtf8(std::string_view text) const;

  private:
    explicit CodePage(std::string name) : name_(std::move(name)) {}

    std::string name_;
};

// A code point as UTF-8.
void AppendUtf8(std::string& text, char32_t codePoint);

}  // namespace kelo::platform

#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "platform/profile.h"

namespace kelo::platform {
namespace {

// What iconv writes when decoding: four bytes a code point, least significant first.
constexpr const char* kCodePointForm = "UTF-32LE";
// No code page has longer characters (GB18030 and UTF-8 stop at four bytes).
constexpr size_t kLongestCharacter = 8;
constexpr char32_t kReplacement = 0xFFFD;

// One iconv conversion, closed when it goes.
class Converter {
  public:
    Converter(const std::string& to, const std::string& from)
        : handle_(::iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (IsOpen())
            ::iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOpen() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Back to the initial shift state.
    void Reset() { ::iconv(handle_, nullptr, nullptr, nullptr, nullptr); }

    // Converts as much of in as iconv takes into out; returns false with errno set when it
    // stopped before the end of in.
    bool Convert(std::string_view& in, char*& out, size_t& outLeft) {
        char* inPointer = const_cast<char*>(in.data());  // iconv's prototype; it only reads
        size_t inLeft = in.size();
        const size_t result = ::iconv(handle_, &inPointer, &inLeft, &out, &outLeft);
        in.remove_prefix(in.size() - inLeft);
        return result != static_cast<size_t>(-1);
    }

  private:
    iconv_t handle_;
};

std::u32string CodePointsOf(const char* bytes, size_t size) {
    std::u32string codePoints;
    for (size_t i = 0; i + 4 <= size; i += 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(bytes + i);
        codePoints += static_cast<char32_t>(b[0] | b[1] << 8 | b[2] << 16 |
                                            static_cast<uint32_t>(b[3]) << 24);
    }
    return codePoints;
}

// Names of code pages are letters, digits and a few marks; "//" would pass iconv's flags.
bool IsPlainName(const std::string& name) {
    if (name.empty())
        return false;
    for (unsigned char c : name) {
        if (c <= 0x20 || c >= 0x7F || c == '/')
            return false;
    }
    return true;
}

}  // namespace

std::string ReportEncodingName(const ProfileStore& profile) {
    return profile.GetString(kReportSection, kEncodingKey, "");
}

std::optional<CodePage> CodePage::Named(const std::string& name) {
    if (!IsPlainName(name))
        return std::nullopt;
    // Both directions: decoding shows the report, encoding turns a search text into bytes.
    if (!Converter(kCodePointForm, name).IsOpen() || !Converter(name, "UTF-8").IsOpen())
        return std::nullopt;
    return CodePage(name);
}

// Feeds the converter one byte more at a time until the bytes so far make a character, so
// that each character's bytes are known. A byte that cannot begin a character, or a
// character cut off by the end of the text, becomes U+FFFD and the next byte starts afresh.
std::vector<DecodedCharacter> CodePage::Decode(std::string_view bytes) const {
    std::vector<DecodedCharacter> characters;
    Converter converter(kCodePointForm, name_);
    if (!converter.IsOpen())  // the system lost the converter since the name was checked
        return characters;
    size_t start = 0;  // where the character begins, shift sequences before it included
    size_t pos = 0;
    size_t tried = 1;
    while (pos < bytes.size()) {
        std::string_view piece = bytes.substr(pos, tried);
        char output[kLongestCharacter * 4 * 2];
        char* out = output;
        size_t outLeft = sizeof output;
        const bool whole = converter.Convert(piece, out, outLeft);
        const size_t taken = tried - piece.size();
        const size_t written = sizeof output - outLeft;
        if (taken > 0 && written > 0) {
            pos += taken;
            characters.push_back({start, pos - start, CodePointsOf(output, written)});
            start = pos;
            tried = 1;
        } else if (taken > 0) {
            pos += taken;  // a shift sequence: it belongs to the character that follows
            tried = 1;
        } else if (!whole && errno == EINVAL && tried < kLongestCharacter &&
                   pos + tried < bytes.size()) {
            ++tried;  // the character goes on in the next byte
        } else {
            converter.Reset();
            characters.push_back({start, pos + 1 - start, std::u32string(1, kReplacement)});
            start = ++pos;
            tried = 1;
        }
    }
    if (start < bytes.size())
        characters.push_back({start, bytes.size() - start, {}});
    return characters;
}

std::string CodePage::ToUtf8(std::string_view bytes) const {
    std::string text;
    text.reserve(bytes.size());
    for (const DecodedCharacter& character : Decode(bytes)) {
        for (char32_t codePoint : character.codePoints)
            AppendUtf8(text, codePoint);
    }
    return text;
}

std::optional<std::string> CodePage::FromUtf8(std::string_view text) const {
    Converter converter(name_, "UTF-8");
    if (!converter.IsOpen())
        return std::nullopt;
    std::string encoded;
    char output[256];
    while (!text.empty()) {
        char* out = output;
        size_t outLeft = sizeof output;
        const bool whole = converter.Convert(text, out, outLeft);
        encoded.append(output, sizeof output - outLeft);
        if (!whole && errno != E2BIG)
            return std::nullopt;  // no form in this code page, or not UTF-8
    }
    return encoded;
}

void AppendUtf8(std::string& text, char32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        codePoint = kReplacement;
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | codePoint >> 6);
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | codePoint >> 12);
        text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | codePoint >> 18);
        text += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace kelo::platform

// The code page a report is shown in, decided once for every program: a name given for the
// run, else the profile's [Report] Encoding, else none (the machine's bytes as they are).
#pragma once

#include <optional>
#include <string>

#include "platform/code_page.h"

namespace kelo::service {

struct ReportCodePage {
    std::optional<platform::CodePage> codePage;
    // The profile's name when this system knows no such code page; "" otherwise. The report
    // then has no code page: a program that cannot refuse shows it unconverted and says so.
    std::string unknownName;
};

// given: the name given for this run ("" for none), checked where it was given.
ReportCodePage ChooseReportCodePage(const std::string& given, const std::string& profilePath);

// kelo-cli's refusal of a profile's unknown name: "unknown encoding 'X' in PATH (Encoding in
// [Report])".
std::string UnknownEncodingText(const ReportCodePage& chosen, const std::string& profilePath);

}  // namespace kelo::service

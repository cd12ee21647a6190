#include "service/report_code_page.h"

#include "platform/profile.h"

namespace kelo::service {

ReportCodePage ChooseReportCodePage(const std::string& given, const std::string& profilePath) {
    ReportCodePage chosen;
    if (!given.empty()) {
        chosen.codePage = platform::CodePage::Named(given);
        return chosen;
    }
    // Read afresh each time, so that a changed profile holds for the next report.
    const std::string name = platform::ReportEncodingName(platform::ProfileStore(profilePath));
    if (name.empty())
        return chosen;
    chosen.codePage = platform::CodePage::Named(name);
    if (!chosen.codePage)
        chosen.unknownName = name;
    return chosen;
}

std::string UnknownEncodingText(const ReportCodePage& chosen, const std::string& profilePath) {
    return "unknown encoding '" + chosen.unknownName + "' in " + profilePath +
           " (Encoding in [Report])";
}

}  // namespace kelo::service

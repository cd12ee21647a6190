#include "files/report_page.h"

#include "platform/atomic_file.h"

namespace kelo {
namespace {

constexpr char kWhiteSpace[] = " \t\n\r\v\f";

void AppendEscaped(std::string& page, const std::string& text, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        switch (text[i]) {
            case '&':
                page += "&amp;";
                break;
            case '<':
                page += "&lt;";
                break;
            case '>':
                page += "&gt;";
                break;
            default:
                page += text[i];
                break;
        }
    }
}

}  // namespace

std::string BuildReportPage(const std::string& text) {
    std::string page = "<HTML><BODY><PRE>";
    const size_t begin = text.find_first_not_of(kWhiteSpace);
    if (begin != std::string::npos) {
        const size_t end = text.find_last_not_of(kWhiteSpace) + 1;
        page.reserve(page.size() + (end - begin) + 32);
        AppendEscaped(page, text, begin, end);
    }
    page += "</PRE></BODY></HTML>";
    return page;
}

bool WriteReportPage(const std::string& path, const std::string& text) {
    const std::string page = BuildReportPage(text);
    return platform::WriteNewPrivateFile(path, page.data(), page.size()).OkElseShow(path);
}

}  // namespace kelo

#include "link/status_text.h"

#include <cctype>
#include <climits>

namespace kelo {
namespace {

constexpr const char* kLineKeys[] = {"REPORT:", "READ_PARAM:"};

// One field's payload as the line protocol reads it: the count, or the line and its size.
std::string DescribePayload(const std::string& key, const std::string& statusText) {
    const std::string payload = FieldPayload(statusText, key);
    if (payload.empty())
        return key + " without a payload";
    size_t end = 0;
    const int number = LeadingDecimal(payload, 0, &end);
    // The separator after the number is skipped without looking at it.
    const size_t rest = end + 1 <= payload.size() ? end + 1 : payload.size();
    if (number == 0)
        return key + " count " + std::to_string(LeadingDecimal(payload, rest, nullptr));
    const size_t bytes = (payload.size() - rest) / 2;
    return key + " line " + std::to_string(number) + ", " + std::to_string(bytes) +
           (bytes == 1 ? " byte" : " bytes");
}

}  // namespace

std::string FieldPayload(const std::string& statusText, const std::string& key) {
    const size_t keyAt = statusText.find(key);
    if (keyAt == std::string::npos)
        return "";
    const size_t payloadAt = keyAt + key.size();
    const size_t end = statusText.find(';', payloadAt);
    if (end == std::string::npos)
        return "";
    return statusText.substr(payloadAt, end - payloadAt);
}

int LeadingDecimal(const std::string& text, size_t start, size_t* end) {
    size_t i = start;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const size_t digitsStart = i;
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value <= INT_MAX)
            value = value * 10 + (text[i] - '0');
    }
    if (i == digitsStart) {
        if (end != nullptr)
            *end = start;
        return 0;
    }
    if (end != nullptr)
        *end = i;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(negative ? -value : value);
}

std::string DescribeStatusText(const std::string& statusText) {
    std::string description;
    for (const char* key : kLineKeys) {
        if (statusText.find(key) == std::string::npos)
            continue;
        if (!description.empty())
            description += "; ";
        description += DescribePayload(key, statusText);
    }
    return description;
}

}  // namespace kelo

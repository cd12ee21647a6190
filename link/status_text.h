// The status text of machine types 1 and 2: KEY:value; fields as in an IEEE 1284 device ID,
// of which "REPORT:" and "READ_PARAM:" carry the report and the parameter set line by line.
// A payload is either the count payload "0,N" or a line payload "n,HEX".
#pragma once

#include <cstddef>
#include <string>

namespace kelo {

// The payload of the field: the text between the first occurrence of key and the first ";"
// after it; empty without either.
std::string FieldPayload(const std::string& statusText, const std::string& key);

// A decimal number read as atoi does: leading white space and a sign are accepted, no digits
// give 0. end, when given, is where the number stops (the start when there are no digits).
int LeadingDecimal(const std::string& text, size_t start, size_t* end);

// For the protocol trace: what the "REPORT:" and "READ_PARAM:" fields of a status text
// carry, such as "REPORT: line 3, 128 bytes" or "READ_PARAM: count 513"; "" without either.
std::string DescribeStatusText(const std::string& statusText);

}  // namespace kelo

// The two access codes of the machine protocol. Code A also keys the file scrambling.
#pragma once

namespace kelo::platform {

constexpr int kAccessCodeLength = 500;

// The access line is this prefix followed by one of the codes.
constexpr char kAccessLinePrefix[] = "OPEN CODE=";
constexpr int kAccessLinePrefixLength = sizeof kAccessLinePrefix - 1;

// 500 characters each, every one between 0x20 and 0x5F, then a zero byte.
extern const char kAccessCodeA[kAccessCodeLength + 1];
extern const char kAccessCodeB[kAccessCodeLength + 1];

}  // namespace kelo::platform

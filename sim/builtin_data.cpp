#include "sim/builtin_data.h"

#include <cstdio>
#include <string>

namespace kelo::sim {
namespace {

// A small fixed generator, so that every run serves the same bytes.
class Sequence {
  public:
    explicit Sequence(uint32_t seed) : state_(seed) {}
    uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }

  private:
    uint32_t state_;
};

std::string Printf(const char* format, auto... values) {
    char line[160];
    std::snprintf(line, sizeof line, format, values...);
    return line;
}

void AddLine(std::string& text, const std::string& line) {
    text += line + "\r\n";
}

void AddCounters(std::string& text, Sequence& random) {
    static const char* const kCounters[] = {
        "Total pages",     "Simplex pages",   "Duplex pages",        "Colour pages",
        "Mono pages",      "Jobs printed",    "Jobs cancelled",      "Paper jams",
        "Tray 1 feeds",    "Tray 2 feeds",    "Tray 3 feeds",        "Bypass feeds",
        "Drum rotations",  "Fuser hours",     "Transfer belt turns", "Power-on hours",
        "Sleep entries",   "Cover openings",  "Toner K changes",     "Toner C changes",
        "Toner M changes", "Toner Y changes", "Network jobs",        "USB jobs",
    };
    AddLine(text, "[COUNTERS]");
    for (const char* name : kCounters) {
        AddLine(text, Printf("  %-24s %10u", name, random.Next() % 2000000));
    }
    AddLine(text, "");
}

void AddFirmware(std::string& text, int machineType) {
    static const char* const kModules[] = {"Main controller",   "Engine",  "Boot loader",
                                           "Network interface", "Panel",   "Finisher",
                                           "Scanner",           "Font ROM"};
    AddLine(text, "[FIRMWARE]");
    int minor = 10;
    for (const char* module : kModules) {
        AddLine(text, Printf("  %-20s V%d.%02d.%03d  2024-%02d-%02d", module, machineType, minor,
                             minor * 7 % 1000, minor % 12 + 1, minor % 28 + 1));
        minor += 3;
    }
    AddLine(text, "");
}

void AddSettings(std::string& text) {
    AddLine(text, "[SETTINGS]");
    AddLine(text,
            "  Fuser temperature      185\xB0"
            "C");  // degree sign, one byte above 0x7F
    AddLine(text,
            "  Ambient temperature     23\xB0"
            "C");
    AddLine(text,
            "  Paper size             A4 (210\xD7"
            "297 mm)");
    AddLine(text, "  Operator note          \x8C\x9F\x8D\x80");  // a double-byte text
    AddLine(text, "  Sleep after            15 min");
    AddLine(text, "  IP address             192.0.2.10");
    AddLine(text, "");
}

void AddErrorLog(std::string& text, Sequence& random) {
    static const char* const kCodes[] = {"E-101 Paper jam, tray 1",
                                         "E-204 Toner low",
                                         "E-310 Fuser warm-up timeout",
                                         "E-415 Cover open",
                                         "W-020 Waste toner nearly full",
                                         "E-512 Network link lost",
                                         "E-618 Drum near end"};
    AddLine(text, "[ERROR LOG]");
    AddLine(text, "  No.  Date       Time      Pages     Code");
    unsigned pages = 100000;
    for (int entry = 1; entry <= 48; ++entry) {
        pages += random.Next() % 4000;
        AddLine(text, Printf("  %03d  2025-%02d-%02d %02d:%02d:%02d %9u  %s", entry, entry % 12 + 1,
                             entry % 28 + 1, entry % 24, entry * 7 % 60, entry * 13 % 60, pages,
                             kCodes[random.Next() % 7]));
    }
    AddLine(text, "");
}

}  // namespace

std::vector<uint8_t> BuiltInReport(int machineType) {
    Sequence random(0x4B454C4Fu + static_cast<uint32_t>(machineType));
    std::string text;
    AddLine(text, "SERVICE REPORT");
    AddLine(text, Printf("Machine type %d   Serial number SIM%05d", machineType, 4711));
    AddLine(text, "================================================================");
    AddLine(text, "");
    AddFirmware(text, machineType);
    AddCounters(text, random);
    AddSettings(text);
    AddErrorLog(text, random);
    AddLine(text, "END OF REPORT");
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> BuiltInParameters() {
    Sequence random(0x50415241u);
    std::vector<uint8_t> set(kParameterSetSize);
    for (size_t i = 0; i < set.size(); ++i) {
        const size_t block = i / 1024;
        switch (block % 4) {
            case 0:
                set[i] = static_cast<uint8_t>(random.Next());
                break;  // settings
            case 1:
                set[i] = (i % 256 < 64) ? 0 : static_cast<uint8_t>(i);
                break;
            case 2:
                set[i] = (i % 3 == 0) ? 0 : static_cast<uint8_t>(random.Next() % 32);
                break;
            default:
                set[i] = (block % 8 == 7) ? 0xFF : 0x00;
                break;  // empty tables
        }
    }
    return set;
}

}  // namespace kelo::sim

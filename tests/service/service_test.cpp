// The policies both programs take from service/: the backup before a write, the code page of a
// shown report, and the machine the settings select.
#include <gtest/gtest.h>

#include "service/machine.h"
#include "service/parameter_backup.h"
#include "service/report_code_page.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::ops::Status;
using kelo::service::BackupRead;
using End = BackupRead::End;

kelo::ops::Parameters Read(Status status, std::vector<uint8_t> bytes) {
    return {{status, "", 0}, std::move(bytes)};
}

TEST(ParameterBackup, AReadEndsByWhatCameBackAndAStopOutranksEverything) {
    const struct {
        Status status;
        size_t size;
        bool stopped;
        End end;
    } cases[] = {
        {Status::kOk, 3, false, End::kRead},          {Status::kOk, 3, true, End::kStopped},
        {Status::kFailed, 0, false, End::kFailed},    {Status::kOk, 0, false, End::kFailed},
        {Status::kOk, 200000, false, End::kNotWhole},
    };
    for (const auto& c : cases) {
        const BackupRead read = kelo::service::ReadBackup(
            [&] { return Read(c.status, std::vector<uint8_t>(c.size, 7)); },
            [&] { return c.stopped; });
        EXPECT_EQ(read.end, c.end) << c.size << c.stopped;
        EXPECT_EQ(read.set.plain.size(),
                  c.end == End::kRead || c.end == End::kNotWhole ? c.size : 0u);
        EXPECT_GT(read.startedMs, 0);
    }
}

TEST(ParameterBackup, TheSetIsKeptBeforeTheWriteAndWithoutOneTheCallerDecides) {
    for (End end : {End::kRead, End::kFailed, End::kStopped, End::kNotWhole}) {
        for (bool anyway : {false, true}) {
            std::vector<std::string> steps;
            kelo::service::BackupSteps backup;
            backup.read = [&] {
                steps.push_back("read");
                BackupRead read;
                read.end = end;
                return read;
            };
            backup.keep = [&](const BackupRead&) { steps.push_back("keep"); };
            backup.writeWithout = [&](const BackupRead&) {
                steps.push_back("ask");
                return anyway;
            };
            backup.write = [&] {
                steps.push_back("write");
                return kelo::ops::Write{{Status::kOk, "Done.", 0}, false, true};
            };
            const auto written = kelo::service::WriteWithBackup(backup);
            const std::vector<std::string> expected =
                end == End::kRead ? std::vector<std::string>{"read", "keep", "write"}
                : anyway          ? std::vector<std::string>{"read", "ask", "write"}
                                  : std::vector<std::string>{"read", "ask"};
            EXPECT_EQ(steps, expected) << static_cast<int>(end) << anyway;
            EXPECT_EQ(written.has_value(), expected.back() == "write");
        }
    }
}

TEST(ReportCodePage, AGivenNameWinsAndAnUnknownProfileNameLeavesTheBytesAsTheyAre) {
    testing_support::TempDir dir;
    const std::string profile = dir.File("kelo.INI");
    EXPECT_FALSE(kelo::service::ChooseReportCodePage("", profile).codePage);
    testing_support::WriteFile(profile, "[Report]\nEncoding=NOPE\n");
    const kelo::service::ReportCodePage unknown = kelo::service::ChooseReportCodePage("", profile);
    EXPECT_FALSE(unknown.codePage);
    EXPECT_EQ(unknown.unknownName, "NOPE");
    EXPECT_EQ(kelo::service::UnknownEncodingText(unknown, profile),
              "unknown encoding 'NOPE' in " + profile + " (Encoding in [Report])");
    const kelo::service::ReportCodePage given =
        kelo::service::ChooseReportCodePage("ISO-8859-1", profile);
    EXPECT_TRUE(given.codePage);
    EXPECT_TRUE(given.unknownName.empty());
    testing_support::WriteFile(profile, "[Report]\nEncoding=cp932\n");
    EXPECT_TRUE(kelo::service::ChooseReportCodePage("", profile).codePage);
}

TEST(SelectedMachine, OnlyTheNetworkPortNamesAHostElseThePortKindStands) {
    const struct {
        kelo::ConnectionSettings settings;
        std::optional<std::string> given;
        std::string host;
    } cases[] = {
        {{kelo::kPortNetwork, 1, 0, {"a", "b"}}, std::nullopt, "b"},
        {{kelo::kPortNetwork, 2, 0, {"a", "b"}}, std::nullopt, "network"},
        {{kelo::kPortUsb, 0, 3, {"a"}}, std::nullopt, "usb"},
        {{kelo::kPortParallel, 0, 1, {"a"}}, std::string("c"), "c"},
    };
    for (const auto& c : cases) {
        const kelo::records::Machine machine = kelo::service::RecordedMachine(c.settings, c.given);
        EXPECT_EQ(machine.host, c.host);
        EXPECT_EQ(machine.type, c.settings.machineTypeIndex + 1);
        EXPECT_EQ(machine.portKind, kelo::records::PortKindWord(c.settings.portKind));
    }
}

}  // namespace

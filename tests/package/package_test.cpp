#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <utility>

#include "common/text.h"
#include "package/firmware_package.h"
#include "package/manifest_string.h"
#include "package/manifest_values.h"
#include "package/package_files.h"
#include "package/unsigned_conversion.h"
#include "platform/native_string.h"
#include "tests/support/fake_services.h"
#include "tests/support/outcome.h"
#include "tests/support/test_files.h"

namespace velkora {
namespace {

using testing::outcomeOf;

// Each text is followed in memory by a double quote, which must not end a value.
TEST(ManifestString, FindsTheFirstWellFormedMemberAndUnescapesIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"\"product\" \r\n\t\v\f: \n\t\"ZUQ\"", "ZUQ"},
        {R"({"meta":{"product":""}},"product":"top")", ""},
        {R"("product": 5, "xproduct":"A", "note":"\"product\":\"X\"", "product":"C")", "C"},
        {R"("product":"a\"b\\c\/d\be\ff\ng\rh\ti\\")", "a\"b\\c/d\be\ff\ng\rh\ti\\"},
        {std::string("\"product\":\"\n\x01\xC3\xA9\0\"", 17), std::string("\n\x01\xC3\xA9\0", 5)},
        {"\"product\":\"a\\\nb\", \"product\":\"c\\\r\", \"product\":\"next\"", "next"},
        {R"("product":"Z\u0055Q")", "Unsupported JSON escape in field: product"},
        {R"("product":"ends in \")", "Manifest is missing required field: product"},
        {R"("product":ZUQ "product"x"ZUQ")", "Manifest is missing required field: product"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string quoted = text + '"';
        const std::string_view view(quoted.data(), text.size());
        EXPECT_EQ(outcomeOf([&] { return extractManifestString(view, "product"); }), expected);
    }
}

// Converted as a C library does with 32-bit unsigned long; accepted rows: the text|the value.
// The conversion is also checked alone where the value cannot show it (a sign before 0x, a
// prefix after blanks or in base 10, a text that ends before what follows it in memory);
// those rows: base|text|value|characters consumed.
TEST(PackageCompatibility, OneByteInDecimalOrHexadecimalAndNothingElse) {
    const auto parse = [](const std::string& text) {
        return outcomeOf([&] { return std::to_string(parsePackageCompatibility(text)); });
    };
    for (const std::string row : {"0x1F|31", "0XAf|175", " 7 |7", "\t0x03\r\n|3", "255|255",
                                  "0xa|10", "007|7", "+7|7", "-0|0", "\v7|7", "-4294967295|1"}) {
        EXPECT_EQ(parse(row.substr(0, row.find('|'))), row.substr(row.find('|') + 1));
    }
    for (const std::string text :
         {"256", "0x100", "0x", "0xg1", "12a", "7:", "1.5", "-1", "+0x1F", "4294967295", "0x0x5"}) {
        EXPECT_EQ(parse(text), "Invalid package_compatibility value: " + text);
    }
    for (const std::string text : {"", "   ", "+", "x1"}) {
        EXPECT_EQ(parse(text), "invalid_argument: invalid stoul argument");
    }
    for (const std::string text : {"4294967296", "0x100000000", "-4294967296"}) {
        EXPECT_EQ(parse(text), "out_of_range: stoul argument out of range");
    }
    for (const std::string row : {"16|-0x1F|4294967265|5", "16|  0X1F|31|6", "10|0x12|0|1"}) {
        const std::size_t end = row.find('|', 3);
        const auto result = convertUnsigned32(row.substr(3, end - 3), row[1] == '6' ? 16 : 10);
        EXPECT_EQ(std::to_string(result.value) + "|" + std::to_string(result.consumed),
                  row.substr(end + 1));
    }
    EXPECT_EQ(convertUnsigned32(std::string_view("0x5", 2), 16).consumed, 1u);
    EXPECT_EQ(convertUnsigned32(std::string_view("12", 1), 10).value, 1u);
}

TEST(FirmwareVersionText, ThreeOrFourComponentsOfOneToThreeDigits) {
    EXPECT_EQ(parseFirmwareVersion("1.2.3", "v"), (FirmwareVersion{1, 2, 3, 0}));
    EXPECT_EQ(parseFirmwareVersion("999.01.0.002", "v"), (FirmwareVersion{999, 1, 0, 2}));
    for (const std::string text :
         {"1.2", "1.2.3.4.5", "1000.2.3", " 1.2.3", "1.2.3\n", "1..2.3", "1.2.3.", ""}) {
        EXPECT_EQ(outcomeOf([&] { parseFirmwareVersion(text, "bootloader"); }),
                  "Invalid bootloader version format: " + text);
    }
}

// A plain name everywhere: no path, no Windows device or change, no control character.
TEST(PlainFileName, OnlyANameDirectlyInsideTheFolder) {
    using namespace std::string_literals;
    for (const std::string name : {"fw.sfb", "fw.v1.2.sfb", "a b.sfb", ".hidden", "CONFIG.sfb",
                                   "com10.sfb", "COM0", "LPTA.sfb", "NULL", "fw\x80\xC3\xA4"}) {
        EXPECT_TRUE(isPlainFileName(name)) << name;
    }
    for (const std::string& name : {""s, "."s, ".."s, "fw/a"s, "fw\\a"s, "C:fw"s, "a..b"s, "fw."s,
                                    "fw "s, "CON"s, "Prn.txt"s, "AUX"s, "nul.tar.gz"s, "COM1"s,
                                    "com9.sfb"s, "lpt9.bin"s, "\x1F"s, "fw\x7F"s, "fw\0.txt"s}) {
        EXPECT_FALSE(isPlainFileName(name)) << name;
    }
}

// Each member as raw JSON after the colon ("" leaves none); the defaults suit the image "abc".
struct Manifest {
    std::string package_format = R"("zuq_hid_sbsfu_update")";
    std::string product = R"("ZUQ")";
    std::string firmware_version = R"("1.4.0.12")";
    std::string sfb_file = R"("fw.sfb")";
    std::string sfb_sha256 =
        R"("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")";
    std::string package_compatibility = R"("0x03")";
    std::string notes = R"("")";  // first in the file, so that it is read past

    std::string text() const {
        return "{\"notes\": " + notes + ", \"package_format\": " + package_format +
               ", \"product\": " + product + ", \"firmware_version\": " + firmware_version +
               ", \"sfb_file\": " + sfb_file + ", \"sfb_sha256\": " + sfb_sha256 +
               ", \"package_compatibility\": " + package_compatibility + "}";
    }
};
const std::string kAbcSha256 = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

// Each row holds the defect it names and some checked later: the first in the order is told.
TEST(UpdateManifest, TheFirstDefectInTheFixedOrderIsReported) {
    const std::string a63 = '"' + std::string(63, 'a');
    const std::string notHex = "sfb_sha256 must be 64 hex characters.";
    const auto later = [](std::string compatibility) {
        return Manifest{"\"zuq\"", "\"ZUQ \"", "\"1.2\"", "\"../fw\"", "\"ab\"", compatibility};
    };
    const std::pair<Manifest, std::string> cases[] = {
        {{"", "", "", "", "", ""}, "Manifest is missing required field: package_format"},
        {{.product = R"("\u0055")", .firmware_version = ""},
         "Unsupported JSON escape in field: product"},
        {later(R"("256")"), "Invalid package_compatibility value: 256"},
        {later(R"("3")"), "Unsupported package_format: zuq"},
        {{.product = "\"ZUQ \"", .firmware_version = "\"1\"", .sfb_file = "\"..\""},
         "Unsupported product: ZUQ "},
        {{.firmware_version = "\"1\"", .sfb_file = "\"..\"", .sfb_sha256 = "\"a\""},
         "sfb_file must be a plain filename in the firmware folder."},
        {{.firmware_version = "\"1\"", .sfb_sha256 = a63 + '"'}, notHex},
        {{.sfb_sha256 = a63 + "g\""}, notHex},
        {{.firmware_version = "\" 1.2.3\"", .sfb_sha256 = "\"09AFaf" + std::string(58, '0') + '"'},
         "Invalid firmware_version version format:  1.2.3"},
    };
    for (const auto& [manifest, expected] : cases) {
        EXPECT_EQ(outcomeOf([&] { parseUpdateManifestText(manifest.text()); }), expected);
    }
}

// Rows: manifest, image (none, folder, sparse past 32 bits of size), failure, run-log lines.
// A member beyond any regular expression's stack pads a manifest exactly to the size limit.
TEST(PackageLoading, ReportsWhatIsMissingOrWrongAndLogsWhatItLoaded) {
    testing::TempFolder folder;
    testing::ManualClock clock;
    RunLog log = openRunLog(folder.path(), clock);
    std::size_t seen = 0;
    const auto newLogLines = [&] {
        const std::string text = testing::readFileText(log.path());
        return std::regex_replace(text.substr(std::exchange(seen, text.size())),
                                  std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d |\r)"), "");
    };
    const std::string unavailable = "firmware package unavailable: ";
    std::filesystem::create_directories(folder.path() / "firmware");
    // The SHA-256 of a million 'a', a standard test vector: an image of many read pieces.
    const std::string digest = "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0";
    const std::string million(1000000, 'a');
    const auto image = folder.path() / "firmware" / "fw.sfb";
    const std::string loaded = "package firmware_version=1.4.0.12\npackage sfb_file=fw.sfb\n";
    const auto sha = [](const std::string& hex) { return "\npackage sfb_sha256=" + hex + "\n"; };
    const std::size_t room = kMaxManifestBytes - Manifest{}.text().size();
    const std::string padded =
        '"' + std::string(room / 2 * 2, '\\') + std::string(room % 2, ' ') + '"';
    // An image of one byte is hashed as one piece of one byte.
    const std::string aSha = "CA978112CA1BBDCAFAC231B39A23DC4DA786EFF8147C4E72B9807785AFEE48BB";
    const std::string mismatch = "Update firmware SHA-256 mismatch. Expected " + kAbcSha256 +
                                 " but calculated " + aSha + ".";
    const struct {
        Manifest manifest;
        std::string image;
        std::string failure;
        std::string logLines;
    } cases[] = {
        {{.notes = padded}, "none", "", unavailable + "fw.sfb was not found\n"},
        {{.notes = padded + " "}, "none", "Manifest file is too large.", ""},
        // Names that Windows cannot hold in a folder are as absent as any other missing file.
        {{.sfb_file = R"("<|?*>")"}, "none", "", unavailable + "<|?*> was not found\n"},
        {{.product = R"("zuq")"}, "none", "Unsupported product: zuq", ""},
        {{}, "", "The .sfb file is empty.", ""},
        {{}, "folder", "Unable to open " + platform::toUtf8(image.native()), ""},
        {{}, "sparse", "The .sfb file is too large.", ""},
        {{}, "a", mismatch, loaded + "package compatibility=0x03" + sha(aSha)},
        {{.sfb_sha256 = '"' + toLowerAscii(digest) + '"', .package_compatibility = R"("0x1f")"},
         million,
         "",
         loaded + "package compatibility=0x1F" + sha(digest)},
    };
    for (const auto& c : cases) {
        testing::writeFileText(folder.path() / "firmware" / "update_manifest.json",
                               c.manifest.text());
        std::filesystem::remove_all(image);
        if (c.image == "folder") {
            std::filesystem::create_directory(image);
        } else if (c.image != "none") {
            testing::writeFileText(image, c.image == "sparse" ? "" : c.image);
            std::filesystem::resize_file(image,
                                         c.image == "sparse" ? kMaxImageBytes + 1 : c.image.size());
        }
        std::optional<FirmwarePackage> package;
        EXPECT_EQ(outcomeOf([&] { package = loadFirmwarePackage(folder.path(), log); }), c.failure);
        EXPECT_EQ(newLogLines(), c.logLines);
        EXPECT_EQ(package.has_value(), c.failure.empty() && c.image != "none");
        EXPECT_TRUE(!package ||
                    (std::string(package->image.begin(), package->image.end()) == million &&
                     package->manifest.version == FirmwareVersion{1, 4, 0, 12} &&
                     package->manifest.package_compatibility == 31));
    }
}

#ifndef _WIN32
// Kernel files misstate their size: /proc says 0 bytes and holds more, read to the limit like a
// file that grows while it is read; /sys says 4096 bytes and holds fewer, which is all it gives.
// A file that grows after its first piece was read is read whole as well.
TEST(PackageFiles, AFileIsReadForWhatItHoldsUpToTheLimit) {
    std::string commandLine;
    for (const std::string& argument : ::testing::internal::GetArgvs()) {
        commandLine += argument + '\0';
    }
    std::string pieces;
    const auto collect = [&](std::span<const std::uint8_t> p) {
        pieces.append(p.begin(), p.end());
    };
    const char* const self = "/proc/self/cmdline";
    EXPECT_EQ(readWholeFile<std::string>(self, commandLine.size(), "", collect), commandLine);
    EXPECT_EQ(pieces, commandLine);
    EXPECT_EQ(outcomeOf([&] { readWholeFile<std::string>(self, commandLine.size() - 1, "long"); }),
              "long");
    const char* const online = "/sys/devices/system/cpu/online";
    EXPECT_EQ(readWholeFile<std::string>(online, 4096, ""), testing::readFileText(online));

    const testing::TempFolder folder;
    const std::filesystem::path growing = folder.path() / "growing.bin";
    const std::string first(64 * 1024 + 10, 's');
    testing::writeFileText(growing, first);
    bool grown = false;
    const auto grow = [&](std::span<const std::uint8_t>) {
        if (!std::exchange(grown, true)) {
            std::ofstream(growing, std::ios::app) << std::string(100, 'g');
        }
    };
    EXPECT_EQ(readWholeFile<std::string>(growing, 1 << 20, "", grow),
              first + std::string(100, 'g'));
}
#endif

}  // namespace
}  // namespace velkora

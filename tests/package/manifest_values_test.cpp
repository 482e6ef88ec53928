#include "package/manifest_values.h"

#include <gtest/gtest.h>

#include "package/unsigned_conversion.h"
#include "tests/package/package_test_support.h"

namespace velkora {
namespace {

using testing::Failure;
using testing::failureOf;

TEST(PackageCompatibility, AcceptsOneByteInDecimalOrHexadecimalAndNothingElse) {
    const std::string invalid = "Invalid package_compatibility value: ";
    const Failure noDigits{"invalid_argument", "invalid stoul argument"};
    const Failure tooLarge{"out_of_range", "stoul argument out of range"};
    const struct {
        std::string text;
        int value;  // -1 when the text is refused
        Failure failure;
    } cases[] = {
        {"0x1F", 31, {}},
        {"0X1f", 31, {}},
        {" 7 ", 7, {}},
        {"\t0x03\r\n", 3, {}},
        {"255", 255, {}},
        {"0xff", 255, {}},
        {"0", 0, {}},
        {"007", 7, {}},
        {"+7", 7, {}},
        {"\v7", 7, {}},  // beyond the trimmed blanks, the conversion skips C white space too
        {"256", -1, {"runtime_error", invalid + "256"}},
        {"0x100", -1, {"runtime_error", invalid + "0x100"}},
        {"0x", -1, {"runtime_error", invalid + "0x"}},
        {"0xg", -1, {"runtime_error", invalid + "0xg"}},
        {"12ab", -1, {"runtime_error", invalid + "12ab"}},
        {"1.5", -1, {"runtime_error", invalid + "1.5"}},
        {"7 8", -1, {"runtime_error", invalid + "7 8"}},
        {" 256 ", -1, {"runtime_error", invalid + " 256 "}},
        {"-1", -1, {"runtime_error", invalid + "-1"}},  // wraps to 4294967295
        {"-0", 0, {}},
        {"+0x1F", -1, {"runtime_error", invalid + "+0x1F"}},
        {"4294967295", -1, {"runtime_error", invalid + "4294967295"}},
        {"", -1, noDigits},
        {"   ", -1, noDigits},
        {"+", -1, noDigits},
        {"-", -1, noDigits},
        {"x1", -1, noDigits},
        {"4294967296", -1, tooLarge},
        {"0x100000000", -1, tooLarge},
        {"99999999999999999999999999", -1, tooLarge},
        {"4294967296abc", -1, tooLarge},
        {"-4294967296", -1, tooLarge},
    };
    for (const auto& c : cases) {
        int value = -1;
        const Failure failure = failureOf([&] { value = parsePackageCompatibility(c.text); });
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(failure, (c.value < 0 ? c.failure : Failure{"none", ""})) << c.text;
    }
}

TEST(PackageCompatibility, ConversionBehavesLikeA32BitCLibrary) {
    const struct {
        std::string text;
        unsigned base;
        std::uint32_t value;
        std::size_t consumed;
    } cases[] = {
        {"-1", 10, 4294967295u, 2},
        {"-4294967295", 10, 1, 11},
        {"  +12z", 10, 12, 5},
        {"0xg", 16, 0, 1},
        {"-0x1F", 16, 4294967265u, 5},
        {"0x0x5", 16, 0, 3},
        {"ffffffff", 16, 4294967295u, 8},
    };
    for (const auto& c : cases) {
        const Unsigned32Conversion result = convertUnsigned32(c.text, c.base);
        EXPECT_EQ(result.value, c.value) << c.text;
        EXPECT_EQ(result.consumed, c.consumed) << c.text;
    }
}

TEST(FirmwareVersionText, ThreeOrFourComponentsOfOneToThreeDigits) {
    const struct {
        std::string text;
        FirmwareVersion version;
    } accepted[] = {
        {"1.2.3", {1, 2, 3, 0}},
        {"01.002.3.4", {1, 2, 3, 4}},
        {"999.999.999.999", {999, 999, 999, 999}},
        {"0.0.0", {0, 0, 0, 0}},
    };
    for (const auto& c : accepted) {
        EXPECT_EQ(parseFirmwareVersion(c.text, "firmware_version"), c.version) << c.text;
    }
    const std::string refused[] = {
        "1.2",    "1.2.3.4.5", "1000.2.3", "1.2.3.0001", " 1.2.3", "1.2.3 ", "1.2.3\n", "1..2.3",
        ".1.2.3", "1.2.3.",    "1.2.x",    "",           "1,2,3",  "+1.2.3", "1.2.-3",  "1.2.3.4."};
    for (const std::string& text : refused) {
        EXPECT_EQ(failureOf([&] { parseFirmwareVersion(text, "firmware_version"); }).message,
                  "Invalid firmware_version version format: " + text);
    }
    EXPECT_EQ(failureOf([] { parseFirmwareVersion("1", "bootloader"); }).message,
              "Invalid bootloader version format: 1");
}

// Only a name that means a regular file in the folder on every system: no path, no device
// name of Windows (which would open the console or a port), nothing Windows would change, no
// control character that would reach the console and the log.
TEST(PlainFileName, OnlyANameDirectlyInsideTheFolder) {
    for (const std::string name :
         {"fw.sfb", "fw.v1.2.sfb", "firmware", "a b.sfb", ".hidden", "CONFIG.sfb", "com10.sfb",
          "LPT0.sfb", "NULL", "console", "Ger\xC3\xA4t.sfb", "~fw.sfb"}) {
        EXPECT_TRUE(isPlainFileName(name)) << name;
    }
    for (const std::string name : {"",
                                   ".",
                                   "..",
                                   "fw/a.sfb",
                                   "/fw.sfb",
                                   "fw\\a.sfb",
                                   "C:fw.sfb",
                                   "a..sfb",
                                   "..fw",
                                   "fw..",
                                   "fw.sfb:stream",
                                   "CON",
                                   "con.sfb",
                                   "Prn.txt",
                                   "AUX",
                                   "nul.tar.gz",
                                   "COM1",
                                   "com9.sfb",
                                   "LPT1",
                                   "lpt9.bin",
                                   "fw.sfb.",
                                   "fw.sfb ",
                                   "fw\t.sfb",
                                   "fw\x1F.sfb",
                                   "fw\x7F.sfb",
                                   "\x1B[31mfw.sfb"}) {
        EXPECT_FALSE(isPlainFileName(name)) << name;
    }
    EXPECT_FALSE(isPlainFileName(std::string("fw.sfb\0.txt", 11)))
        << "a zero byte would cut the path short";
}

}  // namespace
}  // namespace velkora

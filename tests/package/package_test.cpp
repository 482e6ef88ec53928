#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>

#include "app/common/text.h"
#include "package/firmware_package.h"
#include "package/manifest_string.h"
#include "package/manifest_values.h"
#include "package/package_files.h"
#include "package/unsigned_conversion.h"
#include "platform/native_string.h"
#include "tests/platform/outcome.h"
#include "tests/support/fake_services.h"
#include "tests/support/temp_folder.h"

#ifdef _WIN32
#include "platform/win32/bcrypt_digest.h"
#else
#include <sys/stat.h>
#endif

namespace velkora {
namespace {

using testing::outcomeOf;

std::string pathText(const std::filesystem::path& path) {
    return platform::toUtf8(path.native());
}

TEST(ManifestString, FindsTheFirstWellFormedMemberAndUnescapesIt) {
    const std::string missing = "Manifest is missing required field: product";
    const std::string badEscape = "Unsupported JSON escape in field: product";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"product":"ZUQ"})", "ZUQ"},
        {"\"product\" \r\n\t\v\f: \n\t\"ZUQ\"", "ZUQ"},
        {R"("product":"")", ""},
        {R"("product":"A","product":"B")", "A"},
        {R"({"meta":{"product":"nested"}},"product":"top")", "nested"},
        {R"("product": 5, "product": null, "product":"third")", "third"},
        {R"("xproduct":"A","product_x":"B","product":"C")", "C"},
        {R"("note":"\"product\":\"X\"","product":"Y")", "Y"},
        {R"("product":"a\"b\\c\/d\be\ff\ng\rh\ti")", "a\"b\\c/d\be\ff\ng\rh\ti"},
        {"\"product\":\"raw\nline\t\x01\xC3\xA9\"", "raw\nline\t\x01\xC3\xA9"},
        {std::string("\"product\":\"a\0b\"", 15), std::string("a\0b", 3)},
        {"\"product\":\"bad\\\nline\", \"product\":\"next\"", "next"},
        {"\"product\":\"bad\\\rline\", \"product\":\"next\"", "next"},
        {R"("product":"Z\u0055Q")", badEscape},
        {R"("product":"\x")", badEscape},
        {R"("product":"unterminated)", missing},
        {R"("product":"ends in \")", missing},
        {R"("product":ZUQ)", missing},
        {"", missing},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(outcomeOf([&] { return extractManifestString(text, "product"); }), expected);
    }
}

// The scanner must find exactly what the regular expression it replaces finds. On short texts
// the standard library's engine is safe, so it serves as the reference over texts built from
// the pieces that matter.
TEST(ManifestString, AgreesWithTheRegularExpressionOnGeneratedTexts) {
    const std::string pieces[] = {"\"k\"",    "\"",     "\\",           ":", " ", "\n",   "\r",
                                  "\t",       "\v",     "\f",           "a", "k", "\\\"", "\\\\",
                                  "\"k\":\"", "\"kk\"", "\xE2\x80\xA8", "\0"};
    const std::regex pattern(R"(\"k\"\s*:\s*\"([^\"\\]*(?:\\.[^\"\\]*)*)\")");
    std::mt19937 random(20260101);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    int matches = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (std::size_t n = pick(random); n > 0; --n) {
            const std::string& piece = pieces[pick(random)];
            text += piece.empty() ? std::string(1, '\0') : piece;
        }
        std::smatch expected;
        const bool found = std::regex_search(text, expected, pattern);
        const auto body = findManifestStringBody(text, "k");
        ASSERT_EQ(body.has_value(), found) << text;
        if (found) {
            ++matches;
            ASSERT_EQ(body->data() - text.data(), expected.position(1)) << text;
            ASSERT_EQ(std::string(*body), expected.str(1)) << text;
        }
    }
    EXPECT_GT(matches, 1000) << "the generated texts must exercise the matching path";
}

TEST(PackageCompatibility, OneByteInDecimalOrHexadecimalAndNothingElse) {
    const std::string noDigits = "invalid_argument: invalid stoul argument";
    const std::string tooLarge = "out_of_range: stoul argument out of range";
    const std::string bad = "refused";  // with the text as the manifest gives it
    const std::pair<std::string, std::string> cases[] = {
        {"0x1F", "31"},
        {"0X1f", "31"},
        {" 7 ", "7"},
        {"\t0x03\r\n", "3"},
        {"255", "255"},
        {"0xff", "255"},
        {"0", "0"},
        {"007", "7"},
        {"+7", "7"},
        {"-0", "0"},
        {"\v7", "7"},
        {"0x0", "0"},
        {"256", bad},
        {"0x100", bad},
        {"0x", bad},
        {"0xg", bad},
        {"12ab", bad},
        {"1.5", bad},
        {"7 8", bad},
        {" 256 ", bad},
        {"-1", bad},
        {"+0x1F", bad},
        {"4294967295", bad},
        {"", noDigits},
        {"   ", noDigits},
        {"+", noDigits},
        {"-", noDigits},
        {"x1", noDigits},
        {"4294967296", tooLarge},
        {"0x100000000", tooLarge},
        {"-4294967296", tooLarge},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(outcomeOf([&] { return std::to_string(parsePackageCompatibility(text)); }),
                  expected == bad ? "Invalid package_compatibility value: " + text : expected);
    }
}

// Where the compatibility value does not reach: signs, other bases' prefixes, white space, and
// texts that end before the characters that follow them in memory. Results: value/consumed.
TEST(PackageCompatibility, ConversionBehavesLikeA32BitCLibrary) {
    const std::tuple<std::string_view, unsigned, std::string> cases[] = {
        {"-1", 10, "4294967295/2"},
        {"-4294967295", 10, "1/11"},
        {"  +12z", 10, "12/5"},
        {"0xg", 16, "0/1"},
        {"0xf", 16, "15/3"},
        {"-0x1F", 16, "4294967265/5"},
        {"  0X1F", 16, "31/6"},
        {"0x0x5", 16, "0/3"},
        {"0x12", 10, "0/1"},
        {"ffffffff", 16, "4294967295/8"},
        {"FFFFFFFF", 16, "4294967295/8"},
        {std::string_view("0x5", 2), 16, "0/1"},
        {std::string_view("12", 1), 10, "1/1"},
    };
    for (const auto& [text, base, expected] : cases) {
        const Unsigned32Conversion result = convertUnsigned32(text, base);
        EXPECT_EQ(std::to_string(result.value) + "/" + std::to_string(result.consumed), expected);
    }
}

TEST(FirmwareVersionText, ThreeOrFourComponentsOfOneToThreeDigits) {
    EXPECT_EQ(parseFirmwareVersion("1.2.3", "v"), (FirmwareVersion{1, 2, 3, 0}));
    EXPECT_EQ(parseFirmwareVersion("01.002.3.4", "v"), (FirmwareVersion{1, 2, 3, 4}));
    EXPECT_EQ(parseFirmwareVersion("999.999.0.999", "v"), (FirmwareVersion{999, 999, 0, 999}));
    const std::string refused[] = {"1.2",     "1.2.3.4.5", "1000.2.3", "1.2.3.0001", " 1.2.3",
                                   "1.2.3\n", "1..2.3",    ".1.2.3",   "1.2.3.",     "1.2.x",
                                   "",        "1,2,3",     "+1.2.3",   "1.2.-3",     "1.2.3.4."};
    for (const std::string& text : refused) {
        EXPECT_EQ(outcomeOf([&] { parseFirmwareVersion(text, "bootloader"); }),
                  "Invalid bootloader version format: " + text);
    }
}

// Only a name that means a regular file in the folder on every system: no path, no device name
// of Windows (which would open the console or a port), nothing Windows would change, no control
// character that would reach the console and the log.
TEST(PlainFileName, OnlyANameDirectlyInsideTheFolder) {
    using namespace std::string_literals;
    const std::string accepted[] = {"fw.sfb",     "fw.v1.2.sfb", "a b.sfb",    ".hidden",
                                    "CONFIG.sfb", "com10.sfb",   "COM0",       "LPT0.sfb",
                                    "NULL",       "console",     "fw\x80.sfb", "Ger\xC3\xA4t.sfb"};
    for (const std::string& name : accepted) {
        EXPECT_TRUE(isPlainFileName(name)) << name;
    }
    const std::string refused[] = {"",         ".",        "..",   "fw/a.sfb",   "fw\\a.sfb",
                                   "C:fw.sfb", "a..sfb",   "fw..", "fw.sfb.",    "fw.sfb ",
                                   "CON",      "Prn.txt",  "AUX",  "nul.tar.gz", "COM1",
                                   "com9.sfb", "lpt9.bin", "\x1F", "fw\x7F.sfb", "fw.sfb\0.txt"s};
    for (const std::string& name : refused) {
        EXPECT_FALSE(isPlainFileName(name)) << name;
    }
}

// The members of a manifest, each as raw JSON text after the colon; an empty text leaves the
// member out. The defaults make a valid manifest for the image "abc".
struct ManifestMembers {
    std::string package_format = R"("zuq_hid_sbsfu_update")";
    std::string product = R"("ZUQ")";
    std::string firmware_version = R"("1.4.0.12")";
    std::string sfb_file = R"("fw.sfb")";
    std::string sfb_sha256 =
        R"("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")";
    std::string package_compatibility = R"("0x03")";
};
constexpr const char* kAbcSha256 =
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

std::string manifestText(const ManifestMembers& m) {
    std::string text = "{";
    for (const auto& [key, value] : {std::pair{"package_format", &m.package_format},
                                     {"product", &m.product},
                                     {"firmware_version", &m.firmware_version},
                                     {"sfb_file", &m.sfb_file},
                                     {"sfb_sha256", &m.sfb_sha256},
                                     {"package_compatibility", &m.package_compatibility}}) {
        text += value->empty() ? "" : std::string("\n  \"") + key + "\": " + *value + ",";
    }
    return text + "\n  \"notes\": \"\"\n}\n";
}

// Each row holds the defect it names and defects that are checked later, so that only the first
// in the fixed order may be reported.
TEST(UpdateManifest, TheFirstDefectInTheFixedOrderIsReported) {
    const std::string missing = "Manifest is missing required field: ";
    const std::string a63 = '"' + std::string(63, 'a');
    const auto later = [](std::string compatibility) {
        return ManifestMembers{"\"zuq\"",   "\"ZUQ \"", "\"1.2\"",
                               "\"../fw\"", "\"ab\"",   compatibility};
    };
    const std::pair<ManifestMembers, std::string> cases[] = {
        {{"", "", "", "", "", ""}, missing + "package_format"},
        {{.package_format = "zuq"}, missing + "package_format"},
        {{.product = R"("\u0055")", .firmware_version = ""},
         "Unsupported JSON escape in field: product"},
        {{.package_format = R"("x")", .product = ""}, missing + "product"},
        {{.firmware_version = "", .sfb_file = ""}, missing + "firmware_version"},
        {{.sfb_file = "", .sfb_sha256 = ""}, missing + "sfb_file"},
        {{.sfb_sha256 = "", .package_compatibility = ""}, missing + "sfb_sha256"},
        {{.package_compatibility = "3"}, missing + "package_compatibility"},
        {later(R"("  ")"), "invalid_argument: invalid stoul argument"},
        {later(R"("4294967296")"), "out_of_range: stoul argument out of range"},
        {later(R"("256")"), "Invalid package_compatibility value: 256"},
        {later(R"("3")"), "Unsupported package_format: zuq"},
        {{.product = "\"ZUQ \"", .firmware_version = "\"1.2\"", .sfb_file = "\"../fw\""},
         "Unsupported product: ZUQ "},
        {{.firmware_version = "\"1.2\"", .sfb_file = R"("..\\fw")", .sfb_sha256 = R"("a")"},
         "sfb_file must be a plain filename in the firmware folder."},
        {{.firmware_version = "\"1.2\"", .sfb_sha256 = a63 + '"'},
         "sfb_sha256 must be 64 hex characters."},
        {{.sfb_sha256 = a63 + "aa\""}, "sfb_sha256 must be 64 hex characters."},
        {{.sfb_sha256 = a63 + "g\""}, "sfb_sha256 must be 64 hex characters."},
        {{.firmware_version = "\" 1.2.3\"", .sfb_sha256 = "\"09AFaf" + std::string(58, '0') + '"'},
         "Invalid firmware_version version format:  1.2.3"},
    };
    for (const auto& [members, expected] : cases) {
        const std::string text = manifestText(members);
        EXPECT_EQ(outcomeOf([&] { parseUpdateManifestText(text); }), expected) << text;
    }
}

TEST(UpdateManifest, MembersMayStandAnywhereAndOtherContentIsIgnored) {
    const UpdateManifest manifest = parseUpdateManifestText(
        "\xEF\xBB\xBF[not json\r\n\"sfb_sha256\"\t:\r\n\"" + std::string(64, 'f') +
        "\" \"package_compatibility\":\" 7 \" {\"nested\": {\"product\" : \"ZUQ\"}}\n"
        "\"product\": \"other\" \"package_format\":\"zuq_hid_sbsfu_update\"\n"
        "\"firmware_version\":\"01.002.3\", \"sfb_file\":\"fw.v2.sfb\"");
    EXPECT_EQ(manifest.package_format + " " + manifest.product + " " + manifest.firmware_version +
                  " " + manifest.sfb_file + " " + manifest.sfb_sha256,
              "zuq_hid_sbsfu_update ZUQ 01.002.3 fw.v2.sfb " + std::string(64, 'F'));
    EXPECT_EQ(manifest.version, (FirmwareVersion{1, 2, 3, 0}));
    EXPECT_EQ(manifest.package_compatibility, 7);
}

TEST(UpdateManifest, FileIsReadWholeUpToTheSizeLimitAndRefusedBeyondIt) {
    testing::TempFolder folder;
    const auto path = folder.path() / "update_manifest.json";
    EXPECT_EQ(outcomeOf([&] { readUpdateManifest(path); }), "Unable to open " + pathText(path));

    // A member far longer than a backtracking regular-expression engine's stack allows, padded
    // so that the file is exactly at the limit; then one more byte.
    const std::string valid = manifestText({});
    const std::string atLimit =
        "{\"notes\": \"" + std::string(kMaxManifestBytes - valid.size() - 13, '\\') + "\"," + valid;
    ASSERT_EQ(atLimit.size(), kMaxManifestBytes);
    testing::writeFileText(path, atLimit);
    EXPECT_EQ(readUpdateManifest(path).product, "ZUQ");
    EXPECT_EQ(readTextFile(path), atLimit);
    testing::writeFileText(path, atLimit + " ");
    EXPECT_EQ(outcomeOf([&] { readUpdateManifest(path); }), "Manifest file is too large.");
    // The scan takes time in proportion to the text, however many times the key fails.
    EXPECT_EQ(outcomeOf([&] {
                  parseUpdateManifestText(std::string(kMaxManifestBytes / 20, ' ') +
                                          std::string(kMaxManifestBytes / 2, '"'));
              }),
              "Manifest is missing required field: package_format");
}

// A program folder with a run log; the log's texts without their time stamps.
class PackageLoading : public ::testing::Test {
  protected:
    std::filesystem::path firmware() const { return folder_.path() / "firmware"; }
    void writePackage(const ManifestMembers& members, const std::string* image = nullptr) {
        std::filesystem::create_directories(firmware());
        testing::writeFileText(firmware() / "update_manifest.json", manifestText(members));
        if (image != nullptr) {
            testing::writeFileText(firmware() / "fw.sfb", *image);
        }
    }
    std::optional<FirmwarePackage> load() { return loadFirmwarePackage(folder_.path(), log_); }
    std::string loadFailure() {
        return outcomeOf([this] { load(); });
    }
    std::vector<std::string> logTexts() const {
        std::istringstream lines(testing::readFileText(log_.path()));
        std::vector<std::string> texts;
        for (std::string line; std::getline(lines, line);) {
            texts.push_back(line.substr(20, line.find_last_not_of('\r') - 19));
        }
        return texts;
    }

    testing::TempFolder folder_;
    testing::ManualClock clock_;
    RunLog log_ = openRunLog(folder_.path(), clock_);
};

TEST_F(PackageLoading, AMissingManifestOrImageIsNoPackageAndOneLogLine) {
    EXPECT_FALSE(load().has_value()) << "no firmware folder";
    std::filesystem::create_directories(firmware());
    EXPECT_FALSE(load().has_value()) << "an empty firmware folder";
    EXPECT_EQ(logTexts(),
              std::vector<std::string>(
                  2, "firmware package unavailable: update_manifest.json was not found"));
    // Names that Windows cannot hold in a folder are as absent as any other missing file.
    for (const std::string name : {"fw.sfb", "fw<1>.sfb", "fw|.sfb", "fw?.sfb", "fw*.sfb"}) {
        writePackage({.sfb_file = '"' + name + '"'});
        EXPECT_EQ(loadFailure(), "");
        EXPECT_EQ(logTexts().back(), "firmware package unavailable: " + name + " was not found");
    }
    // A manifest is validated even without its image.
    writePackage({.product = R"("zuq")"});
    EXPECT_EQ(loadFailure(), "Unsupported product: zuq");
    EXPECT_EQ(logTexts().size(), 7u);
}

TEST_F(PackageLoading, AValidPackageIsLoggedInOrderAndAcceptsALowerCaseDigest) {
    // The SHA-256 of a million 'a', a standard test vector: an image of many read pieces.
    const std::string digest = "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0";
    const std::string image(1000000, 'a');
    writePackage(
        {.sfb_sha256 = '"' + toLowerAscii(digest) + '"', .package_compatibility = R"("0x1f")"},
        &image);
    const std::optional<FirmwarePackage> package = load();
    ASSERT_TRUE(package.has_value());
    EXPECT_TRUE(package->image == std::vector<std::uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(package->manifest.sfb_sha256, digest);
    EXPECT_EQ(logTexts(), (std::vector<std::string>{
                              "package firmware_version=1.4.0.12", "package sfb_file=fw.sfb",
                              "package compatibility=0x1F", "package sfb_sha256=" + digest}));
}

TEST_F(PackageLoading, AMismatchNamesBothDigestsInUpperCaseAndLeavesTheComputedOneInTheLog) {
    const std::string image = "abc";
    writePackage({.sfb_sha256 = '"' + std::string(63, 'a') + "0\""}, &image);
    EXPECT_EQ(loadFailure(), "Update firmware SHA-256 mismatch. Expected " + std::string(63, 'A') +
                                 "0 but calculated " + kAbcSha256 + ".");
    EXPECT_EQ(logTexts().back(), std::string("package sfb_sha256=") + kAbcSha256);
}

TEST_F(PackageLoading, UnusableImagesFailBeforeAnyPackageLogLine) {
    const std::string empty;
    writePackage({}, &empty);
    EXPECT_EQ(loadFailure(), "The .sfb file is empty.");

    const auto image = firmware() / "fw.sfb";
    std::filesystem::remove(image);
    std::filesystem::create_directory(image);
    EXPECT_EQ(loadFailure(), "Unable to open " + pathText(image));
    std::filesystem::remove(image);

    // Just past what a 32-bit size can announce; sparse, so it costs no disk space, and refused
    // before it is read.
    std::ofstream{image}.close();
    std::filesystem::resize_file(image, kMaxImageBytes + 1);
    EXPECT_EQ(loadFailure(), "The .sfb file is too large.");
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(PackageLoading, FilesAreReadToTheLimitAndOnlyWhenTheyAreFiles) {
    const auto path = folder_.path() / "data";
    testing::writeFileText(path, "12345");
    EXPECT_EQ(readWholeFile<std::string>(path, 5, "too large"), "12345");
    EXPECT_EQ(outcomeOf([&] { readWholeFile<std::string>(path, 4, "too large"); }), "too large");
#ifndef _WIN32
    // A device or a pipe is refused before it is opened: reading the one never ends, opening
    // the other blocks until someone writes.
    const auto pipe = folder_.path() / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::filesystem::path& notAFile : {std::filesystem::path("/dev/zero"), pipe}) {
        EXPECT_EQ(outcomeOf([&] { readWholeFile<std::string>(notAFile, 1 << 20, ""); }),
                  "Unable to open " + pathText(notAFile));
    }
    // The kernel's files announce a size of 0 and are longer: read as a file that grows while
    // it is read, up to the limit and not a byte beyond it, each piece handed on.
    std::string commandLine;
    for (const std::string& argument : ::testing::internal::GetArgvs()) {
        commandLine += argument + '\0';
    }
    const std::string self = "/proc/self/cmdline";
    std::string pieces;
    const auto collect = [&](std::span<const std::uint8_t> p) {
        pieces.append(p.begin(), p.end());
    };
    EXPECT_EQ(readWholeFile<std::string>(self, commandLine.size(), "", collect), commandLine);
    EXPECT_EQ(pieces, commandLine);
    EXPECT_EQ(outcomeOf([&] { readWholeFile<std::string>(self, commandLine.size() - 1, "long"); }),
              "long");

    // An existence test that fails for another reason than absence is reported.
    std::filesystem::create_directory_symlink("firmware", firmware());  // a loop
    EXPECT_EQ(loadFailure().rfind(
                  "Unable to check " + pathText(firmware() / "update_manifest.json") + ": ", 0),
              0u);
#endif
}

#ifdef _WIN32
TEST(Sha256, AFailingCngCallIsNamedWithItsStatus) {
    const std::string message =
        outcomeOf([] { platform::win32::BcryptHash hash(L"NO_SUCH_ALGORITHM"); });
    EXPECT_TRUE(std::regex_match(
        message,
        std::regex("BCryptOpenAlgorithmProvider failed with NTSTATUS 0x[1-9a-f][0-9a-f]*")))
        << message;
    // The digest length comes from the provider, not from an assumption about SHA-256.
    platform::win32::BcryptHash sha1(L"SHA1");
    EXPECT_EQ(sha1.finish().size(), 20u);
}
#endif

}  // namespace
}  // namespace velkora

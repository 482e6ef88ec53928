#include "package/update_manifest.h"

#include <gtest/gtest.h>

#include "platform/native_string.h"
#include "tests/package/package_test_support.h"
#include "tests/support/temp_folder.h"

namespace velkora {
namespace {

using testing::Failure;
using testing::failureOf;
using testing::ManifestMembers;
using testing::manifestText;

Failure parseFailure(const std::string& text) {
    return failureOf([&] { parseUpdateManifestText(text); });
}

TEST(UpdateManifest, AValidManifestGivesEveryFieldWithTheDigestInUpperCase) {
    const UpdateManifest manifest = parseUpdateManifestText(manifestText({}));
    EXPECT_EQ(manifest.package_format, "zuq_hid_sbsfu_update");
    EXPECT_EQ(manifest.product, "ZUQ");
    EXPECT_EQ(manifest.firmware_version, "1.4.0.12");
    EXPECT_EQ(manifest.version, (FirmwareVersion{1, 4, 0, 12}));
    EXPECT_EQ(manifest.sfb_file, "fw.sfb");
    EXPECT_EQ(manifest.sfb_sha256, testing::kAbcSha256);
    EXPECT_EQ(manifest.package_compatibility, 3);
}

// Every defect that is checked after the compatibility value.
ManifestMembers laterDefects(std::string compatibility) {
    return {R"("zuq")", R"("ZUQ ")", R"("1.2")", R"("../fw.sfb")", R"("abc")", compatibility};
}

// Each row carries the defect it names plus defects that are checked later, so only the first
// in the fixed order may be reported.
TEST(UpdateManifest, TheFirstDefectInTheFixedOrderIsReported) {
    const auto fails = [](std::string message) { return Failure{"runtime_error", message}; };
    const std::string missing = "Manifest is missing required field: ";
    const std::string a63(63, 'a');
    const struct {
        ManifestMembers members;
        Failure expected;
    } cases[] = {
        {{"", "", "", "", "", ""}, fails(missing + "package_format")},
        {{.package_format = "zuq"}, fails(missing + "package_format")},
        {{.product = R"("Z\u0055Q")", .firmware_version = ""},
         fails("Unsupported JSON escape in field: product")},
        {{.package_format = R"("x")", .product = ""}, fails(missing + "product")},
        {{.firmware_version = "", .sfb_file = ""}, fails(missing + "firmware_version")},
        {{.sfb_file = "", .sfb_sha256 = ""}, fails(missing + "sfb_file")},
        {{.sfb_sha256 = "", .package_compatibility = ""}, fails(missing + "sfb_sha256")},
        {{.package_compatibility = "3"}, fails(missing + "package_compatibility")},
        {{.package_compatibility = R"("  ")"}, {"invalid_argument", "invalid stoul argument"}},
        {{.package_compatibility = R"("4294967296")"},
         {"out_of_range", "stoul argument out of range"}},
        {laterDefects(R"("256")"), fails("Invalid package_compatibility value: 256")},
        {laterDefects(R"("3")"), fails("Unsupported package_format: zuq")},
        {{.product = R"("ZUQ ")", .firmware_version = "\"1.2\"", .sfb_file = R"("../fw.sfb")"},
         fails("Unsupported product: ZUQ ")},
        {{.firmware_version = "\"1.2\"", .sfb_file = R"("..\\fw")", .sfb_sha256 = R"("a")"},
         fails("sfb_file must be a plain filename in the firmware folder.")},
        {{.firmware_version = "\"1.2\"", .sfb_sha256 = '"' + a63 + '"'},
         fails("sfb_sha256 must be 64 hex characters.")},
        {{.sfb_sha256 = '"' + a63 + "aa\""}, fails("sfb_sha256 must be 64 hex characters.")},
        {{.sfb_sha256 = '"' + a63 + "g\""}, fails("sfb_sha256 must be 64 hex characters.")},
        {{.firmware_version = R"(" 1.2.3")"},
         fails("Invalid firmware_version version format:  1.2.3")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseFailure(manifestText(c.members)), c.expected) << manifestText(c.members);
    }
}

TEST(UpdateManifest, MembersMayStandAnywhereAndOtherContentIsIgnored) {
    const std::string text =
        "\xEF\xBB\xBF[not json at all\r\n\"sfb_sha256\"\t:\r\n\"" + std::string(64, 'f') +
        "\" \"package_compatibility\":\" 7 \" {\"nested\": {\"product\" : \"ZUQ\"}}\n"
        "\"product\": \"other\" \"package_format\":\"zuq_hid_sbsfu_update\"\n"
        "\"firmware_version\":\"01.002.3\", \"sfb_file\":\"fw.v2.sfb\"";
    const UpdateManifest manifest = parseUpdateManifestText(text);
    EXPECT_EQ(manifest.product, "ZUQ");
    EXPECT_EQ(manifest.version, (FirmwareVersion{1, 2, 3, 0}));
    EXPECT_EQ(manifest.firmware_version, "01.002.3");
    EXPECT_EQ(manifest.sfb_sha256, std::string(64, 'F'));
    EXPECT_EQ(manifest.package_compatibility, 7);
}

TEST(UpdateManifest, FileIsReadWholeUpToTheSizeLimitAndRefusedBeyondIt) {
    testing::TempFolder folder;
    const auto path = folder.path() / "update_manifest.json";
    EXPECT_EQ(parseFailure("").message, "Manifest is missing required field: package_format");
    EXPECT_EQ(failureOf([&] { readUpdateManifest(path); }).message,
              "Unable to open " + platform::toUtf8(path.native()));

    // A member of a size that overflows a backtracking regular-expression engine's stack many
    // times over, padded so that the file is exactly at the limit.
    const std::string valid = manifestText({});
    const std::string head = "{\"notes\": \"";
    const std::string padding(kMaxManifestBytes - valid.size() - head.size() - 2, 'x');
    const std::string atLimit = head + padding + "\"," + valid;
    ASSERT_EQ(atLimit.size(), kMaxManifestBytes);
    testing::writeFileText(path, atLimit);
    EXPECT_EQ(readUpdateManifest(path).product, "ZUQ");
    EXPECT_EQ(readTextFile(path), atLimit);

    testing::writeFileText(path, atLimit + " ");
    EXPECT_EQ(failureOf([&] { readUpdateManifest(path); }),
              (Failure{"runtime_error", "Manifest file is too large."}));
}

// Values far longer than a backtracking regular-expression engine's stack allows, matched and
// unmatched, plain and escaped.
TEST(UpdateManifest, HugeValuesAtTheLimitFailCleanly) {
    const std::size_t size = kMaxManifestBytes - 256;
    const std::string as(size, 'a');
    const std::string missing = "Manifest is missing required field: package_format";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"\"package_format\":\"" + as, missing},
        {"\"package_format\":\"" + std::string(size, '\\'), missing},
        {std::string(size / 2, '\0') + std::string(size / 2, '"') + "\"package_format\":", missing},
        {manifestText({.package_format = '"' + as + '"'}), "Unsupported package_format: " + as},
        {manifestText({.product = '"' + std::string(size / 2, '\\') + "\\\"\""}),
         "Unsupported product: " + std::string(size / 4, '\\') + '"'},
    };
    for (const auto& c : cases) {
        ASSERT_LE(c.text.size(), kMaxManifestBytes);
        const std::string message = parseFailure(c.text).message;
        EXPECT_TRUE(message == c.message) << message.substr(0, 80);
    }
}

}  // namespace
}  // namespace velkora

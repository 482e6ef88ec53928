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

ManifestMembers with(void (*change)(ManifestMembers&)) {
    ManifestMembers members;
    change(members);
    return members;
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
void allLaterDefects(ManifestMembers& m) {
    m.package_format = R"("zuq")";
    m.product = R"("ZUQ ")";
    m.sfb_file = R"("../fw.sfb")";
    m.sfb_sha256 = R"("abc")";
    m.firmware_version = R"("1.2")";
}

// Each row carries the defect it names plus every defect that is checked later, so only the
// first in the fixed order may be reported.
TEST(UpdateManifest, TheFirstDefectInTheFixedOrderIsReported) {
    struct Case {
        ManifestMembers members;
        Failure expected;
    };
    const std::string missing = "Manifest is missing required field: ";
    const Case cases[] = {
        {with([](ManifestMembers& m) { m = {"", "", "", "", "", ""}; }),
         {"runtime_error", missing + "package_format"}},
        {with([](ManifestMembers& m) { m.package_format = "zuq"; }),
         {"runtime_error", missing + "package_format"}},
        {with([](ManifestMembers& m) { m.product = R"("Z\u0055Q")", m.firmware_version = ""; }),
         {"runtime_error", "Unsupported JSON escape in field: product"}},
        {with([](ManifestMembers& m) { m.package_format = "\"x\"", m.product = ""; }),
         {"runtime_error", missing + "product"}},
        {with([](ManifestMembers& m) { m.firmware_version = "", m.sfb_file = ""; }),
         {"runtime_error", missing + "firmware_version"}},
        {with([](ManifestMembers& m) { m.sfb_file = "", m.sfb_sha256 = ""; }),
         {"runtime_error", missing + "sfb_file"}},
        {with([](ManifestMembers& m) { m.sfb_sha256 = "", m.package_compatibility = ""; }),
         {"runtime_error", missing + "sfb_sha256"}},
        {with([](ManifestMembers& m) { m.package_compatibility = "3"; }),
         {"runtime_error", missing + "package_compatibility"}},
        {with([](ManifestMembers& m) { m.package_compatibility = R"("  ")"; }),
         {"invalid_argument", "invalid stoul argument"}},
        {with([](ManifestMembers& m) { m.package_compatibility = R"("4294967296")"; }),
         {"out_of_range", "stoul argument out of range"}},
        {with([](ManifestMembers& m) { m.package_compatibility = R"("256")", allLaterDefects(m); }),
         {"runtime_error", "Invalid package_compatibility value: 256"}},
        {with([](ManifestMembers& m) { allLaterDefects(m); }),
         {"runtime_error", "Unsupported package_format: zuq"}},
        {with([](ManifestMembers& m) { allLaterDefects(m), m.package_format = {}; }),
         {"runtime_error", missing + "package_format"}},
        {with([](ManifestMembers& m) {
             allLaterDefects(m), m.package_format = ManifestMembers{}.package_format;
         }),
         {"runtime_error", "Unsupported product: ZUQ "}},
        {with([](ManifestMembers& m) { m.sfb_file = R"("..\\fw.sfb")", m.sfb_sha256 = "\"\""; }),
         {"runtime_error", "sfb_file must be a plain filename in the firmware folder."}},
        {with([](ManifestMembers& m) { m.sfb_sha256 = "\"" + std::string(63, 'a') + "\""; }),
         {"runtime_error", "sfb_sha256 must be 64 hex characters."}},
        {with([](ManifestMembers& m) { m.sfb_sha256 = "\"" + std::string(65, 'a') + "\""; }),
         {"runtime_error", "sfb_sha256 must be 64 hex characters."}},
        {with([](ManifestMembers& m) {
             m.sfb_sha256 = "\"" + std::string(63, 'a') + "g\"", m.firmware_version = "\"x\"";
         }),
         {"runtime_error", "sfb_sha256 must be 64 hex characters."}},
        {with([](ManifestMembers& m) { m.firmware_version = R"(" 1.2.3")"; }),
         {"runtime_error", "Invalid firmware_version version format:  1.2.3"}},
    };
    for (const Case& c : cases) {
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

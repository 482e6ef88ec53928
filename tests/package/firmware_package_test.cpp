#include "package/firmware_package.h"

#include <gtest/gtest.h>

#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "package/package_files.h"
#include "platform/native_string.h"
#include "tests/package/package_test_support.h"
#include "tests/support/fake_services.h"
#include "tests/support/temp_folder.h"

namespace velkora {
namespace {

using testing::failureOf;
using testing::kAbcSha256;
using testing::ManifestMembers;
using testing::manifestText;
using testing::writeFileText;

// A program folder with a run log, and the run log's texts without their time stamps.
class PackageLoading : public ::testing::Test {
  protected:
    std::filesystem::path firmware() const { return folder_.path() / "firmware"; }
    void writePackage(const ManifestMembers& members, const std::string* image) {
        std::filesystem::create_directories(firmware());
        writeFileText(firmware() / "update_manifest.json", manifestText(members));
        if (image != nullptr) {
            writeFileText(firmware() / "fw.sfb", *image);
        }
    }
    std::optional<FirmwarePackage> load() { return loadFirmwarePackage(folder_.path(), log_); }
    std::string failureOfLoad() {
        return failureOf([this] { load(); }).message;
    }
    std::vector<std::string> logTexts() const {
        std::istringstream lines(testing::readFileText(log_.path()));
        std::vector<std::string> texts;
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            texts.push_back(line.substr(20));  // after "YYYY-MM-DD HH:MM:SS "
        }
        return texts;
    }
    std::string pathText(const std::filesystem::path& path) const {
        return platform::toUtf8(path.native());
    }

    testing::TempFolder folder_;
    testing::ManualClock clock_;
    RunLog log_ = openRunLog(folder_.path(), clock_);
    const std::string abc_ = "abc";
};

TEST_F(PackageLoading, AMissingManifestOrImageIsNoPackageAndOneLogLine) {
    EXPECT_FALSE(load().has_value()) << "no firmware folder";
    std::filesystem::create_directories(firmware());
    EXPECT_FALSE(load().has_value()) << "an empty firmware folder";
    writePackage({}, nullptr);
    EXPECT_FALSE(load().has_value()) << "no image";
    const std::string noManifest =
        "firmware package unavailable: update_manifest.json was not found";
    EXPECT_EQ(logTexts(),
              (std::vector<std::string>{noManifest, noManifest,
                                        "firmware package unavailable: fw.sfb was not found"}));
}

// Names that Windows cannot hold in a folder are as absent as any other missing file.
TEST_F(PackageLoading, ANameNoFileCanHaveIsNotFound) {
    for (const std::string name : {"fw<1>.sfb", "fw|.sfb", "fw?.sfb", "fw*.sfb", "fw\\\".sfb"}) {
        writePackage(ManifestMembers{.sfb_file = '"' + name + '"'}, nullptr);
        const std::string message = failureOfLoad();
        EXPECT_EQ(message, "") << name;
    }
}

TEST_F(PackageLoading, TheManifestIsValidatedEvenWhenTheImageIsMissing) {
    writePackage(ManifestMembers{.product = R"("zuq")"}, nullptr);
    EXPECT_EQ(failureOfLoad(), "Unsupported product: zuq");
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(PackageLoading, AValidPackageIsLoggedInOrderAndAcceptsALowerCaseDigest) {
    writePackage(ManifestMembers{.package_compatibility = R"("0x1f")"}, &abc_);
    const std::optional<FirmwarePackage> package = load();
    ASSERT_TRUE(package.has_value());
    EXPECT_EQ(package->image, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(package->manifest.sfb_sha256, kAbcSha256);
    EXPECT_EQ(logTexts(),
              (std::vector<std::string>{"package firmware_version=1.4.0.12",
                                        "package sfb_file=fw.sfb", "package compatibility=0x1F",
                                        std::string("package sfb_sha256=") + kAbcSha256}));
}

TEST_F(PackageLoading, AMismatchNamesBothDigestsInUpperCaseAndLeavesTheComputedOneInTheLog) {
    const std::string other = std::string(63, 'a') + "0";
    writePackage(ManifestMembers{.sfb_sha256 = "\"" + other + "\""}, &abc_);
    EXPECT_EQ(failureOfLoad(), "Update firmware SHA-256 mismatch. Expected " +
                                   std::string(63, 'A') + "0 but calculated " + kAbcSha256 + ".");
    EXPECT_EQ(logTexts().back(), std::string("package sfb_sha256=") + kAbcSha256);
}

TEST_F(PackageLoading, UnusableImagesFailBeforeAnyPackageLogLine) {
    const std::string empty;
    writePackage({}, &empty);
    EXPECT_EQ(failureOfLoad(), "The .sfb file is empty.");

    std::filesystem::remove(firmware() / "fw.sfb");
    std::filesystem::create_directory(firmware() / "fw.sfb");
    EXPECT_EQ(failureOfLoad(), "Unable to open " + pathText(firmware() / "fw.sfb"));
    std::filesystem::remove(firmware() / "fw.sfb");

    // Just past what a 32-bit size can announce; sparse, so the test costs no disk space, and
    // refused without being read.
    { std::ofstream create(firmware() / "fw.sfb"); }
    std::filesystem::resize_file(firmware() / "fw.sfb", kMaxImageBytes + 1);
    EXPECT_EQ(failureOfLoad(), "The .sfb file is too large.");
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(PackageLoading, TheReadLimitHoldsAtItsEdge) {
    const auto path = folder_.path() / "data";
    writeFileText(path, "12345");
    EXPECT_EQ(readWholeFile<std::string>(path, 5, "too large"), "12345");
    EXPECT_EQ(failureOf([&] { readWholeFile<std::string>(path, 4, "too large"); }).message,
              "too large");
#ifndef _WIN32
    // A device or a pipe is refused before it is opened: reading the one never ends, opening
    // the other blocks until someone writes.
    const auto pipe = folder_.path() / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::filesystem::path& notAFile : {std::filesystem::path("/dev/zero"), pipe}) {
        EXPECT_EQ(
            failureOf([&] { readWholeFile<std::string>(notAFile, 1 << 20, "endless"); }).message,
            "Unable to open " + pathText(notAFile));
    }
#endif
}

#ifndef _WIN32
TEST_F(PackageLoading, AnExistenceTestThatFailsForAnotherReasonThanAbsenceIsReported) {
    std::filesystem::create_directory_symlink("firmware", firmware());  // a loop
    const std::string message = failureOfLoad();
    EXPECT_EQ(
        message.rfind("Unable to check " + pathText(firmware() / "update_manifest.json") + ": ", 0),
        0u)
        << message;
}
#endif

}  // namespace
}  // namespace velkora

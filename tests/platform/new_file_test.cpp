#include "platform/new_file.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace velkora::platform {
namespace {

using testing::readFileText;
using testing::writeFileText;

// A new file is made only where nothing is yet: whatever took the name in the meantime, a
// file, a folder or a link, is left exactly as it was.
TEST(NewFile, IsCreatedOnlyWhereNothingIsYet) {
    testing::TempFolder folder;
    const auto at = [&folder](const char* name) { return folder.path() / name; };
    writeFileText(at("taken.txt"), "earlier fault log");
    std::filesystem::create_directory(at("folder"));

    EXPECT_EQ(writeNewFile(at("new.txt"), "fault log"), NewFileResult::Written);
    EXPECT_EQ(readFileText(at("new.txt")), "fault log");
    EXPECT_EQ(writeNewFile(at("empty.txt"), ""), NewFileResult::Written);
    EXPECT_TRUE(std::filesystem::is_regular_file(at("empty.txt")));

    EXPECT_EQ(writeNewFile(at("taken.txt"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(readFileText(at("taken.txt")), "earlier fault log");
    EXPECT_EQ(writeNewFile(at("folder"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(writeNewFile(folder.path() / "no such folder" / "x.txt", "x"),
              NewFileResult::CannotCreate);
#ifndef _WIN32
    std::filesystem::create_symlink(at("target.txt"), at("link.txt"));
    EXPECT_EQ(writeNewFile(at("link.txt"), "later"), NewFileResult::NameTaken);
    EXPECT_FALSE(std::filesystem::exists(at("target.txt"))) << "the link was followed";
#endif
}

}  // namespace
}  // namespace velkora::platform

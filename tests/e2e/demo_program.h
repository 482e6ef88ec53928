#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace velkora::testing {

// What one run of the demo program left on its console.
struct DemoOutput {
    std::string console;  // without carriage returns
    int exitCode = 0;
};

// The demo program, velkora-updater-demo, copied with its scenarios and firmware package into
// a folder of the test's own, so that its run logs and saved fault logs land there and not in
// the build folder.
class InstalledDemo {
  public:
    // Throws when the demo has not been built.
    InstalledDemo();

    const std::filesystem::path& folder() const { return folder_.path(); }

    // Starts the demo as a user starts it, with the answers piped into its standard input,
    // and waits for it to end. Its own runtime folder keeps the single-instance guard of
    // POSIX systems apart from a real updater of the user's.
    DemoOutput run(const std::vector<std::string>& arguments, const std::string& answers) const;

  private:
    TempFolder folder_;
    TempFolder runtime_;
};

// Windows programs write their console text in text mode, with CR LF line ends, and the fault
// log's own lines end with CR LF; comparing without CRs reads the same on every platform.
std::string withoutCarriageReturns(std::string text);

// Every excerpt appears in the text in this order, each after the end of the one before.
::testing::AssertionResult appearInOrder(const std::string& text,
                                         const std::vector<std::string>& excerpts);

}  // namespace velkora::testing

#include <gtest/gtest.h>

#include "tests/process/child_process.h"

namespace velkora {
namespace {

// The program as shipped, on a machine without an adapter: it reads its command line, loads
// the firmware beside it, and ends with the code for a missing adapter after the package's
// summary and the error, in that order on one pipe.
TEST(CliProgram, ReportsAMissingAdapterAfterThePackageSummary) {
    const testing::DemoCopy copy("[adapter]\nidentity = absent\n");
    const auto cli = copy.startCli({"update", "--yes", "--wait", "0"});
    EXPECT_EQ(cli->readAll(),
              "Update firmware version: 1.5.0.0\nFirmware file: velkora_demo_1.5.0.0.sfb\n"
              "Update firmware SHA-256 verified.\n\nNo Velkora bootloader was found.\n");
    EXPECT_EQ(cli->wait(), 3);
}

}  // namespace
}  // namespace velkora

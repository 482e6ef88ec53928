#include "tests/e2e/demo_program.h"

#include <stdexcept>

#include "tests/e2e/transcript_harness.h"
#include "tests/support/child_process.h"

namespace velkora::testing {

InstalledDemo::InstalledDemo() {
    const std::filesystem::path built = builtDemoFolder();
    if (!std::filesystem::exists(built / kDemoProgramName)) {
        throw std::runtime_error((built / kDemoProgramName).string() +
                                 " is missing: build the target velkora-updater-demo");
    }
    const auto options = std::filesystem::copy_options::recursive;
    std::filesystem::copy(built / kDemoProgramName, folder() / kDemoProgramName);
    std::filesystem::copy(built / "scenarios", folder() / "scenarios", options);
    std::filesystem::copy(built / "firmware", folder() / "firmware", options);
}

DemoOutput InstalledDemo::run(const std::vector<std::string>& arguments,
                              const std::string& answers) const {
    ChildProcess demo(folder() / kDemoProgramName, arguments,
                      {"XDG_RUNTIME_DIR=" + runtime_.path().string()});
    demo.writeInput(answers);
    demo.closeInput();
    DemoOutput output;
    output.console = withoutCarriageReturns(demo.readAll());
    output.exitCode = demo.wait();
    return output;
}

std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

::testing::AssertionResult appearInOrder(const std::string& text,
                                         const std::vector<std::string>& excerpts) {
    std::size_t from = 0;
    for (const std::string& excerpt : excerpts) {
        const std::size_t at = text.find(excerpt, from);
        if (at == std::string::npos) {
            return ::testing::AssertionFailure()
                   << "missing, after what was found before it:\n"
                   << visible(excerpt) << "\n--- text from there on ---\n"
                   << visible(text.substr(from));
        }
        from = at + excerpt.size();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace velkora::testing

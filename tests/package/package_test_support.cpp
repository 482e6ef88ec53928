#include "tests/package/package_test_support.h"

#include <stdexcept>
#include <utility>
#include <vector>

namespace velkora::testing {

Failure failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::invalid_argument& error) {
        return {"invalid_argument", error.what()};
    } catch (const std::out_of_range& error) {
        return {"out_of_range", error.what()};
    } catch (const std::runtime_error& error) {
        return {"runtime_error", error.what()};
    }
    return {"none", ""};
}

std::string manifestText(const ManifestMembers& members) {
    const std::vector<std::pair<const char*, const std::string*>> all = {
        {"package_format", &members.package_format},
        {"product", &members.product},
        {"firmware_version", &members.firmware_version},
        {"sfb_file", &members.sfb_file},
        {"sfb_sha256", &members.sfb_sha256},
        {"package_compatibility", &members.package_compatibility}};
    std::string text = "{\n";
    for (const auto& [key, value] : all) {
        if (!value->empty()) {
            text += std::string("  \"") + key + "\": " + *value + ",\n";
        }
    }
    return text + "  \"notes\": \"\"\n}\n";
}

}  // namespace velkora::testing

// Feeds arbitrary bytes to the manifest reader as a manifest text, and to each of its value
// conversions on its own. Any input may fail with a standard exception but must not crash,
// hang or touch memory it does not own. On short inputs the field scanner is also checked
// against the regular expression it replaces, which is safe to run there.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <regex>
#include <string>
#include <string_view>

#include "package/manifest_string.h"
#include "package/manifest_values.h"
#include "package/update_manifest.h"

namespace {

constexpr std::size_t kRegexCheckLimit = 256;

template <typename Action>
void tolerateFailure(Action action) {
    try {
        action();
    } catch (const std::exception&) {
    }
}

std::regex fieldPattern(const char* key) {
    return std::regex(std::string("\\\"") + key + R"(\"\s*:\s*\"([^\"\\]*(?:\\.[^\"\\]*)*)\")");
}

void checkAgainstRegularExpression(const std::string& text, const char* key,
                                   const std::regex& pattern) {
    std::smatch expected;
    const bool found = std::regex_search(text, expected, pattern);
    const auto body = velkora::findManifestStringBody(text, key);
    if (found != body.has_value() ||
        (found && (body->data() - text.data() != expected.position(1) ||
                   std::string(*body) != expected.str(1)))) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tolerateFailure([&] { velkora::parseUpdateManifestText(text); });
    tolerateFailure([&] { velkora::parsePackageCompatibility(text); });
    tolerateFailure([&] { velkora::parseFirmwareVersion(text, "firmware_version"); });
    velkora::isPlainFileName(text);
    if (size <= kRegexCheckLimit) {
        static const std::regex product = fieldPattern("product");
        static const std::regex shortKey = fieldPattern("k");
        checkAgainstRegularExpression(text, "product", product);
        checkAgainstRegularExpression(text, "k", shortKey);
    }
    return 0;
}

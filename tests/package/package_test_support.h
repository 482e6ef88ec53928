#pragma once

#include <functional>
#include <string>

namespace velkora::testing {

// What an action threw: the kind of standard exception and its message.
struct Failure {
    std::string kind;  // "invalid_argument", "out_of_range", "runtime_error" or "none"
    std::string message;
    friend bool operator==(const Failure&, const Failure&) = default;
};
Failure failureOf(const std::function<void()>& action);

// The members of a manifest, each as raw JSON text after the colon (quotes included); an empty
// text leaves the member out. The defaults make a valid manifest for the image "abc".
struct ManifestMembers {
    std::string package_format = R"("zuq_hid_sbsfu_update")";
    std::string product = R"("ZUQ")";
    std::string firmware_version = R"("1.4.0.12")";
    std::string sfb_file = R"("fw.sfb")";
    std::string sfb_sha256 =
        R"("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")";
    std::string package_compatibility = R"("0x03")";
};
std::string manifestText(const ManifestMembers& members);

inline constexpr const char* kAbcSha256 =
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

}  // namespace velkora::testing

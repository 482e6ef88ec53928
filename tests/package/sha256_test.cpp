#include "package/sha256_hex.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#ifdef _WIN32
#include "platform/win32/bcrypt_digest.h"
#include "tests/package/package_test_support.h"
#endif

namespace velkora {
namespace {

std::string hashOf(const std::string& text) {
    return sha256Hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(Sha256Hex, KnownVectorsInUpperCase) {
    EXPECT_EQ(hashOf(""), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
    EXPECT_EQ(hashOf("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_EQ(hashOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
    EXPECT_EQ(hashOf(std::string(1000000, 'a')),
              "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0");
}

#ifdef _WIN32
TEST(Sha256Hex, AFailingCngCallIsNamedWithItsStatus) {
    const std::string message =
        testing::failureOf([] { platform::win32::bcryptDigest(L"NO_SUCH_ALGORITHM", {}); }).message;
    EXPECT_TRUE(std::regex_match(
        message,
        std::regex("BCryptOpenAlgorithmProvider failed with NTSTATUS 0x[1-9a-f][0-9a-f]*")))
        << message;
    // The digest length comes from the provider, not from an assumption about SHA-256.
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(platform::win32::bcryptDigest(L"SHA1", abc).size(), 20u);
}
#endif

}  // namespace
}  // namespace velkora

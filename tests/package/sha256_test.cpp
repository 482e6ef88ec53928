#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "app/common/text.h"

#ifdef _WIN32
#include "platform/win32/bcrypt_digest.h"
#include "tests/package/package_test_support.h"
#endif

namespace velkora {
namespace {

// The digest of the text, given to the hash in pieces of at most `piece` bytes.
std::string hashOf(const std::string& text, std::size_t piece) {
    platform::Sha256 hash;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t offset = 0; offset < text.size(); offset += piece) {
        hash.update({bytes + offset, std::min(piece, text.size() - offset)});
    }
    return formatHexBytes(hash.finish());
}

TEST(Sha256, KnownVectorsWholeAndInPieces) {
    const struct {
        std::string text;
        const char* digest;
    } vectors[] = {
        {"", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
        {"abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {std::string(1000000, 'a'),
         "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
    };
    for (const auto& vector : vectors) {
        for (const std::size_t piece : {std::size_t{1} << 30, std::size_t{7}, std::size_t{65536}}) {
            EXPECT_EQ(hashOf(vector.text, piece), vector.digest) << "pieces of " << piece;
        }
    }
}

#ifdef _WIN32
TEST(Sha256, AFailingCngCallIsNamedWithItsStatus) {
    const std::string message =
        testing::failureOf([] { platform::win32::BcryptHash hash(L"NO_SUCH_ALGORITHM"); }).message;
    EXPECT_TRUE(std::regex_match(
        message,
        std::regex("BCryptOpenAlgorithmProvider failed with NTSTATUS 0x[1-9a-f][0-9a-f]*")))
        << message;
    // The digest length comes from the provider, not from an assumption about SHA-256.
    platform::win32::BcryptHash sha1(L"SHA1");
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    sha1.update(abc);
    EXPECT_EQ(sha1.finish().size(), 20u);
}
#endif

}  // namespace
}  // namespace velkora

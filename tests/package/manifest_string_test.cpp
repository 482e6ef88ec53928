#include "package/manifest_string.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "tests/package/package_test_support.h"

namespace velkora {
namespace {

using testing::failureOf;

TEST(ManifestString, FindsTheFirstWellFormedMemberAndUnescapesIt) {
    const struct {
        std::string text;
        std::string value;  // or the failure message
    } cases[] = {
        {R"({"product":"ZUQ"})", "ZUQ"},
        {"\"product\" \r\n\t\v\f: \n\t\"ZUQ\"", "ZUQ"},
        {R"("product":"ZUQ ")", "ZUQ "},
        {R"("product":"")", ""},
        {R"("product":"A","product":"B")", "A"},
        {R"({"meta":{"product":"nested"}},"product":"top")", "nested"},
        {R"("product": 5, "product": null, "product":"third")", "third"},
        {R"("xproduct":"A","product_x":"B","product":"C")", "C"},
        {R"("note":"\"product\":\"X\"","product":"Y")", "Y"},
        {R"("product":"a\"b\\c\/d\be\ff\ng\rh\ti")", "a\"b\\c/d\be\ff\ng\rh\ti"},
        {R"("product":"x\\")", "x\\"},
        {"\"product\":\"raw\nline\t\x01\xC3\xA9\"", "raw\nline\t\x01\xC3\xA9"},
        {std::string("\"product\":\"a\0b\"", 15), std::string("a\0b", 3)},
        {"\"product\":\"bad\\\nline\", \"product\":\"next\"", "next"},
        {R"("product":"Z\u0055Q")", "Unsupported JSON escape in field: product"},
        {R"("product":"\x")", "Unsupported JSON escape in field: product"},
        {"\"product\":\"a\\\r\"", "Manifest is missing required field: product"},
        {R"("product":"unterminated)", "Manifest is missing required field: product"},
        {R"("product":"ends in \")", "Manifest is missing required field: product"},
        {R"("product":ZUQ)", "Manifest is missing required field: product"},
        {R"('product':'ZUQ')", "Manifest is missing required field: product"},
        {"", "Manifest is missing required field: product"},
    };
    for (const auto& c : cases) {
        std::string value;
        const auto failure = failureOf([&] { value = extractManifestString(c.text, "product"); });
        EXPECT_EQ(failure.kind == "none" ? value : failure.message, c.value) << c.text;
    }
}

// The scanner must find exactly what the regular expression it replaces finds. On short texts
// the standard library's engine is safe, so it serves as the reference over texts built from
// the pieces that matter: quotes, backslashes, colons, every kind of white space, line breaks,
// zero bytes, the key itself and a Unicode line separator in UTF-8.
TEST(ManifestString, AgreesWithTheRegularExpressionOnGeneratedTexts) {
    const std::string pieces[] = {"\"k\"",
                                  "\"",
                                  "\\",
                                  ":",
                                  " ",
                                  "\n",
                                  "\r",
                                  "\t",
                                  "\v",
                                  "\f",
                                  "a",
                                  "k",
                                  std::string(1, '\0'),
                                  "\xE2\x80\xA8",
                                  "\"k\":\"",
                                  "\\\"",
                                  "\\\\",
                                  "\"kk\""};
    const std::regex pattern(R"(\"k\"\s*:\s*\"([^\"\\]*(?:\\.[^\"\\]*)*)\")");
    std::mt19937 random(20260101);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> length(0, 14);
    int matches = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int n = length(random); n > 0; --n) {
            text += pieces[pick(random)];
        }
        std::smatch expected;
        const bool found = std::regex_search(text, expected, pattern);
        const auto body = findManifestStringBody(text, "k");
        ASSERT_EQ(body.has_value(), found) << text;
        if (found) {
            ++matches;
            ASSERT_EQ(body->data() - text.data(), expected.position(1)) << text;
            ASSERT_EQ(std::string(*body), expected.str(1)) << text;
        }
    }
    EXPECT_GT(matches, 1000) << "the generated texts must exercise the matching path";
}

}  // namespace
}  // namespace velkora

#include "management/fault_line_grammar.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/management/regex_line_grammar.h"

namespace velkora {
namespace {

// Bytes that matter to the grammar: digits, code characters, every ECMAScript whitespace byte,
// and near misses (lower case, NUL, ESC, bytes above 0x7F that some code pages call blank).
const std::string kAlphabet =
    std::string("0123456789AZQX_az- \t\n\v\f\r") + '\0' + "\x1B\x85\xA0\xFF";

class LineGenerator {
  public:
    explicit LineGenerator(unsigned seed) : random_(seed) {}

    std::string randomBytes() {
        std::string line(below(24), ' ');
        for (char& c : line) {
            c = anyByte();
        }
        return line;
    }

    // A well-formed record or count line, then a few random edits, so that lines on both sides
    // of every boundary of the grammar are produced.
    std::string nearRecord() {
        std::string line;
        const unsigned shape = below(3);
        if (shape == 0) {
            line = digits(3);
        } else {
            line = digits(3) + blanks() + code() + blanks();
            if (shape == 1) {
                line += digits(3) + blanks();
            }
            line += digits(5) + blanks() + digits(5);
            if (below(2) == 0) {
                line += blanks();
            }
        }
        for (unsigned edits = below(4); edits > 0; --edits) {
            const std::size_t at = below(static_cast<unsigned>(line.size()) + 1);
            switch (below(3)) {
                case 0:
                    line.insert(at, 1, anyByte());
                    break;
                case 1:
                    if (at < line.size()) {
                        line.erase(at, 1);
                    }
                    break;
                default:
                    if (at < line.size()) {
                        line[at] = anyByte();
                    }
                    break;
            }
        }
        return line;
    }

  private:
    unsigned below(unsigned bound) {
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(random_);
    }
    char anyByte() { return kAlphabet[below(static_cast<unsigned>(kAlphabet.size()))]; }
    std::string digits(unsigned count) {
        std::string text;
        for (unsigned i = 0; i < count; ++i) {
            text += static_cast<char>('0' + below(10));
        }
        return text;
    }
    std::string blanks() {
        static const std::string kBlanks = " \t\n\v\f\r";
        std::string text;
        for (unsigned count = 1 + below(2); count > 0; --count) {
            text += kBlanks[below(static_cast<unsigned>(kBlanks.size()))];
        }
        return text;
    }
    std::string code() {
        static const std::string kCodeCharacters = "FLT_0129AZ";
        std::string text;
        for (unsigned count = 1 + below(6); count > 0; --count) {
            text += kCodeCharacters[below(static_cast<unsigned>(kCodeCharacters.size()))];
        }
        return text;
    }

    std::mt19937 random_;
};

std::vector<std::string> fieldsOf(const RecordLineFields& fields) {
    std::vector<std::string> result{std::string(fields.index), std::string(fields.code)};
    if (fields.hasX) {
        result.emplace_back(fields.x);
    }
    result.emplace_back(fields.value1);
    result.emplace_back(fields.value2);
    return result;
}

std::string printable(const std::string& line) {
    std::string text;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            text += "\\x" + std::to_string(byte);
        }
    }
    return text;
}

// The hand-written matchers must accept exactly the lines that the regular expressions accept
// and capture the same fields, on many lines short enough for the regex engine to be safe.
TEST(FaultLineGrammar, AgreesWithTheRegularExpressionsOnGeneratedLines) {
    LineGenerator generator(20240607);
    int withX = 0;
    int withoutX = 0;
    int countLines = 0;
    for (int i = 0; i < 60000; ++i) {
        const std::string line = (i % 3 == 0) ? generator.randomBytes() : generator.nearRecord();
        const testing::RegexLineMatch expected = testing::matchWithRegex(line);
        const std::optional<RecordLineFields> actual = matchRecordLine(line);

        ASSERT_EQ(isCountLine(line), expected.countLine) << printable(line);
        ASSERT_EQ(actual.has_value(), expected.recordWithX || expected.recordWithoutX)
            << printable(line);
        if (actual) {
            ASSERT_EQ(actual->hasX, expected.recordWithX) << printable(line);
            ASSERT_EQ(fieldsOf(*actual), expected.fields) << printable(line);
        }
        withX += expected.recordWithX ? 1 : 0;
        withoutX += expected.recordWithoutX ? 1 : 0;
        countLines += expected.countLine ? 1 : 0;
    }
    // The comparison only means something if every kind of line came up often.
    EXPECT_GT(withX, 2000);
    EXPECT_GT(withoutX, 2000);
    EXPECT_GT(countLines, 2000);
}

}  // namespace
}  // namespace velkora

// Feeds arbitrary device bytes through everything that reads a fault dump: the colour-code
// removal, the parser, the catalogue and the fault log text. Besides crashes and sanitizer
// findings it checks what must hold for any input, and compares the hand-written line matchers
// with the line grammar written as regular expressions on every line short enough for the
// regex engine.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/regex_line_grammar.h"
#include "management/colour_codes.h"
#include "management/fault_catalogue.h"
#include "management/fault_dump_parser.h"
#include "management/fault_line_grammar.h"
#include "management/fault_log_text.h"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void compareLineMatchers(std::string_view plain) {
    constexpr std::size_t kLongestRegexLine = 96;
    std::size_t position = 0;
    while (position <= plain.size()) {
        std::size_t end = plain.find('\n', position);
        if (end == std::string_view::npos) {
            end = plain.size();
        }
        std::string_view line = plain.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > kLongestRegexLine) {
            continue;
        }
        const velkora::testing::RegexLineMatch expected = velkora::testing::matchWithRegex(line);
        const std::optional<velkora::RecordLineFields> actual = velkora::matchRecordLine(line);
        require(velkora::isCountLine(line) == expected.countLine);
        require(actual.has_value() == (expected.recordWithX || expected.recordWithoutX));
        if (actual) {
            require(actual->hasX == expected.recordWithX);
            std::vector<std::string> fields{std::string(actual->index), std::string(actual->code)};
            if (actual->hasX) {
                fields.emplace_back(actual->x);
            }
            fields.emplace_back(actual->value1);
            fields.emplace_back(actual->value2);
            require(fields == expected.fields);
        }
    }
}

void checkFaultLogText(const std::string& text, std::size_t records) {
    const std::string heading = "Total number of faults: " + std::to_string(records) + "\r\n";
    require(text.compare(0, heading.size(), heading) == 0);
    require(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            require(i > 0 && text[i - 1] == '\r');
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view dump(reinterpret_cast<const char*>(data), size);

    try {
        const std::string plain = velkora::stripTextFormatting(dump);
        require(plain.size() <= dump.size());
        require(plain.find('\x1B') == std::string::npos);
        compareLineMatchers(plain);
    } catch (const std::runtime_error&) {
    }

    std::vector<velkora::FaultRecord> records;
    try {
        records = velkora::parseFaultDump(dump);
    } catch (const std::runtime_error&) {
        return 0;
    }
    require(records.size() <= 999);
    for (const velkora::FaultRecord& record : records) {
        require(record.index <= 999);
        require(!record.code.empty());
        require(record.hasX || record.x == 0);
    }

    try {
        const std::vector<velkora::FaultDisplay> displays = velkora::describeFaultRecords(records);
        require(displays.size() == records.size());
        checkFaultLogText(velkora::formatFaultLog(displays), records.size());
    } catch (const std::runtime_error&) {
    }
    return 0;
}

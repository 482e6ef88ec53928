#include "management/fault_dump_parser.h"

#include <optional>
#include <stdexcept>
#include <string>

#include "management/colour_codes.h"
#include "management/fault_dump_markers.h"
#include "management/fault_line_grammar.h"

namespace velkora {
namespace {

[[noreturn]] void fail(const char* reason) {
    throw std::runtime_error(std::string("Fault log display failed: ") + reason);
}

// The decimal value of a field that the grammar has already proven to be all digits.
std::uint32_t decimalValue(std::string_view digits) {
    std::uint32_t value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

FaultRecord toRecord(const RecordLineFields& fields) {
    FaultRecord record;
    record.index = static_cast<std::uint16_t>(decimalValue(fields.index));
    record.code = std::string(fields.code);
    if (fields.hasX) {
        const std::uint32_t x = decimalValue(fields.x);
        if (x > 255) {
            fail("invalid fault record x value.");
        }
        record.hasX = true;
        record.x = static_cast<std::uint8_t>(x);
    }
    // A five-digit field can exceed 16 bits; the device's values are 16-bit, so only the low
    // 16 bits are kept, as its firmware would have stored them.
    record.value1 = static_cast<std::uint16_t>(decimalValue(fields.value1) & 0xFFFFu);
    record.value2 = static_cast<std::uint16_t>(decimalValue(fields.value2) & 0xFFFFu);
    return record;
}

// Reads the plain text line by line: lines end at LF, and one CR before it is dropped.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}

    std::optional<std::string_view> next() {
        if (position_ > text_.size()) {
            return std::nullopt;
        }
        std::size_t end = text_.find('\n', position_);
        if (end == std::string_view::npos) {
            end = text_.size();
        }
        std::string_view line = text_.substr(position_, end - position_);
        position_ = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        return line;
    }

  private:
    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::vector<FaultRecord> parseFaultDump(std::string_view dump) {
    // The markers are looked for in the raw bytes, colour codes and all, and their order is
    // not tested: the line-by-line reading below decides whether the records are whole.
    if (dump.find(kFaultDumpBeginMarker) == std::string_view::npos ||
        dump.find(kFaultDumpEndMarker) == std::string_view::npos) {
        fail("the complete dump markers were not received.");
    }

    const std::string text = stripTextFormatting(dump);
    LineReader lines(text);

    // Every line before the first line of exactly three digits is ignored; that line is the
    // number of records that follow.
    std::optional<std::size_t> announced;
    while (!announced) {
        const std::optional<std::string_view> line = lines.next();
        if (!line) {
            fail("the complete fault records could not be verified.");
        }
        if (isCountLine(*line)) {
            announced = decimalValue(*line);
        }
    }

    std::vector<FaultRecord> records;
    records.reserve(*announced);
    while (const std::optional<std::string_view> line = lines.next()) {
        if (*line == kFaultDumpEndLine) {
            if (records.size() != *announced) {
                break;
            }
            return records;
        }
        if (line->empty()) {
            continue;
        }
        const std::optional<RecordLineFields> fields = matchRecordLine(*line);
        if (!fields) {
            fail("unsupported fault record format.");
        }
        records.push_back(toRecord(*fields));
    }
    fail("the complete fault records could not be verified.");
}

}  // namespace velkora

#include "management/fault_catalogue.h"

#include <array>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace velkora {
namespace {

enum class Source : std::uint8_t { Value1, Value2 };

enum class Reading : std::uint8_t {
    Absent,      // no line
    Unsigned,    // 0 to 65535
    Signed,      // two's complement: 65535 reads as -1
    WeldStatus,  // the text of FLT_WELD's two status flags
    FixedText,   // the label alone, no value
};

struct ValueLine {
    std::string_view label;
    Source source = Source::Value1;
    Reading reading = Reading::Absent;
    std::string_view unit;
};

// The lines shown when value2 lies in [fromValue2, toValue2]. The default range is empty, so
// an entry's unused variant never applies.
struct Variant {
    std::uint16_t fromValue2 = 1;
    std::uint16_t toValue2 = 0;
    ValueLine first;
    ValueLine second;
};

struct CatalogueEntry {
    std::string_view code;
    std::string_view title;
    std::array<Variant, 2> variants;
};

constexpr Variant always(ValueLine first = {}, ValueLine second = {}) {
    return {0, 0xFFFF, first, second};
}

constexpr Variant whenValue2(std::uint16_t from, std::uint16_t to, ValueLine first,
                             ValueLine second = {}) {
    return {from, to, first, second};
}

constexpr ValueLine kCurrent{"Current: ", Source::Value1, Reading::Signed, " mA"};
constexpr ValueLine kPhoneVoltageOfValue1{"Phone Voltage: ", Source::Value1, Reading::Unsigned,
                                          " mV"};
constexpr ValueLine kPhoneVoltageOfValue2{"Phone Voltage: ", Source::Value2, Reading::Unsigned,
                                          " mV"};

constexpr ValueLine unsignedLine(std::string_view label, Source source) {
    return {label, source, Reading::Unsigned, {}};
}

constexpr ValueLine fixedText(std::string_view text) {
    return {text, {}, Reading::FixedText, {}};
}

constexpr std::array<CatalogueEntry, 21> kCatalogue{{
    {"FLT_BIG_OC", "Charging Overcurrent", {always(kCurrent, kPhoneVoltageOfValue2)}},
    {"FLT_SM_OC", "Vehicle USB Overcurrent", {always(kCurrent, kPhoneVoltageOfValue2)}},
    {"FLT_BG_SHTDN", "Charging Power Shutdown", {always(kCurrent, kPhoneVoltageOfValue2)}},
    {"FLT_SM_SHTDN", "Vehicle USB Power Shutdown", {always(kCurrent, kPhoneVoltageOfValue2)}},
    {"FLT_TEMPERATURE",
     "Overtemperature",
     {always({"Temperature: ", Source::Value1, Reading::Signed, " C"})}},
    {"FLT_SM_ACTIVE", "Vehicle USB Power Fault", {always(kCurrent, kPhoneVoltageOfValue2)}},
    {"FLT_BG_ACTIVE", "Charging Power Fault", {always(kCurrent)}},
    // The sensor fault carries either a current, marked by value2 = 65535, or the raw ADC
    // average and its signed deviation.
    {"FLT_ISENSOR",
     "Current Sensor Fault",
     {whenValue2(0xFFFF, 0xFFFF, kCurrent),
      whenValue2(0, 0xFFFE, unsignedLine("ADC Average: ", Source::Value1),
                 {"ADC Delta: ", Source::Value2, Reading::Signed, {}})}},
    {"FLT_SM_OVERVOLT", "Vehicle USB Overvoltage", {always(kPhoneVoltageOfValue1)}},
    {"FLT_OFF_OVERVOLT",
     "Charging Voltage While Off",
     {always({"Charging Voltage: ", Source::Value1, Reading::Unsigned, " mV"})}},
    {"FLT_INTERROR_01",
     "Internal Error",
     {always(unsignedLine("Value 1: ", Source::Value1),
             unsignedLine("Value 2: ", Source::Value2))}},
    {"FLT_WELDCKTFAIL",
     "Redundant Protection Fault",
     {always(kCurrent, {"Vehicle USB Voltage: ", Source::Value2, Reading::Unsigned, " mV"})}},
    {"FLT_BOARD_CURRENT", "Board Overcurrent", {always(kCurrent, kPhoneVoltageOfValue2)}},
    {"CLEAN_RUN", "Normal Operation Marker", {always(kCurrent, kPhoneVoltageOfValue2)}},
    {"FLT_DBG_ACCMODE", "Accessory Mode Detected", {always()}},
    {"PD_SOFT_RESET",
     "Protocol Event",
     {always(unsignedLine("Event Value 1: ", Source::Value1),
             unsignedLine("Event Value 2: ", Source::Value2))}},
    {"PD_HARD_RESET",
     "Protocol Recovery Event",
     {always(unsignedLine("Event Value 1: ", Source::Value1),
             unsignedLine("Event Value 2: ", Source::Value2))}},
    {"PD3_CA_STATS",
     "Protocol Statistics",
     {always(unsignedLine("Statistic Value 1: ", Source::Value1),
             unsignedLine("Statistic Value 2: ", Source::Value2))}},
    // value2 of the switch fault is a two-bit set of flags; a larger value is not one the
    // firmware can send, so it is refused rather than guessed at.
    {"FLT_WELD",
     "Power Switch Fault",
     {whenValue2(0, 3, kCurrent, {"Status: ", Source::Value2, Reading::WeldStatus, {}})}},
    {"FLT_BG_OVERVOLT",
     "Charging Overvoltage",
     {whenValue2(0, 0, kPhoneVoltageOfValue1),
      whenValue2(1, 1, {"Charging Voltage Limit: ", Source::Value1, Reading::Unsigned, " mV"})}},
    {"FLT_SWAP",
     "Power Transfer Fault",
     {whenValue2(0, 0, fixedText("Direction: Vehicle USB to Charging")),
      whenValue2(1, 1, fixedText("Direction: Charging to Vehicle USB"))}},
}};

// Indexed by FLT_WELD's value2: bit 0 is the weld flag, bit 1 the redundant protection flag.
constexpr std::array<std::string_view, 4> kWeldStatusTexts{
    "No status flags", "Weld indication", "Redundant protection indication",
    "Weld and redundant protection indications"};

[[noreturn]] void cannotDisplay() {
    throw std::runtime_error("Fault log contains a fault record that this updater cannot display.");
}

const CatalogueEntry* findEntry(std::string_view code) {
    for (const CatalogueEntry& entry : kCatalogue) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

const Variant* findVariant(const CatalogueEntry& entry, std::uint16_t value2) {
    for (const Variant& variant : entry.variants) {
        if (value2 >= variant.fromValue2 && value2 <= variant.toValue2) {
            return &variant;
        }
    }
    return nullptr;
}

std::string toDecimal(long value) {
    std::array<char, 24> digits{};
    const std::to_chars_result result =
        std::to_chars(digits.data(), digits.data() + digits.size(), value);
    return std::string(digits.data(), result.ptr);
}

std::string writeLine(const ValueLine& line, const FaultRecord& record) {
    const std::uint16_t raw = line.source == Source::Value1 ? record.value1 : record.value2;
    std::string text(line.label);
    switch (line.reading) {
        case Reading::Unsigned:
            text += toDecimal(raw);
            break;
        case Reading::Signed:
            text += toDecimal(static_cast<std::int16_t>(raw));
            break;
        case Reading::WeldStatus:
            text += kWeldStatusTexts.at(raw);
            break;
        case Reading::FixedText:
        case Reading::Absent:
            break;
    }
    text += line.unit;
    return text;
}

}  // namespace

FaultDisplay describeFaultRecord(const FaultRecord& record) {
    const CatalogueEntry* entry = findEntry(record.code);
    if (entry == nullptr) {
        cannotDisplay();
    }
    const Variant* variant = findVariant(*entry, record.value2);
    if (variant == nullptr) {
        cannotDisplay();
    }
    FaultDisplay display;
    display.index = record.index;
    display.hasX = record.hasX;
    display.x = record.x;
    display.title = std::string(entry->title);
    for (const ValueLine* line : {&variant->first, &variant->second}) {
        if (line->reading != Reading::Absent) {
            display.lines.push_back(writeLine(*line, record));
        }
    }
    return display;
}

std::vector<FaultDisplay> describeFaultRecords(std::span<const FaultRecord> records) {
    std::vector<FaultDisplay> displays;
    displays.reserve(records.size());
    for (const FaultRecord& record : records) {
        displays.push_back(describeFaultRecord(record));
    }
    return displays;
}

}  // namespace velkora

#include "sim/scenario_reader.h"

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "platform/native_string.h"
#include "sim/scenario_values.h"

namespace velkora::sim {
namespace {

using scenario::ValueError;

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

Identity parseIdentity(std::string_view text) {
    if (text == "bootloader") {
        return Identity::Bootloader;
    }
    if (text == "application") {
        return Identity::Application;
    }
    if (text == "absent") {
        return Identity::Absent;
    }
    throw ValueError("expected bootloader, application or absent, got \"" + std::string(text) +
                     "\"");
}

AfterInstall parseAfterInstall(std::string_view text) {
    if (text == "bootloader") {
        return AfterInstall::Bootloader;
    }
    if (text == "stay") {
        return AfterInstall::Stay;
    }
    if (text == "absent") {
        return AfterInstall::Absent;
    }
    throw ValueError("expected bootloader, stay or absent, got \"" + std::string(text) + "\"");
}

template <std::size_t N>
std::array<std::uint8_t, N> toArray(const std::vector<std::uint8_t>& bytes) {
    std::array<std::uint8_t, N> result{};
    std::copy(bytes.begin(), bytes.end(), result.begin());
    return result;
}

TransferStatus parseTransfer(std::string_view text) {
    TransferStatus status;
    for (const scenario::Setting& s : scenario::splitSettings(text)) {
        if (!s.hasValue) {
            throw ValueError("expected key=value pairs, got \"" + s.key + "\"");
        }
        if (s.key == "state") {
            status.state = scenario::parseTransferState(s.value);
        } else if (s.key == "active") {
            status.active = scenario::parseNumber(s.value, 255) != 0;
        } else if (s.key == "expected") {
            status.expected = scenario::parseNumber(s.value);
        } else if (s.key == "received") {
            status.received = scenario::parseNumber(s.value);
        } else if (s.key == "last_command") {
            status.lastCommand = scenario::parseCommand(s.value);
        } else if (s.key == "last_status") {
            status.lastStatus = scenario::parseStatus(s.value);
        } else {
            throw ValueError("unknown transfer setting \"" + s.key +
                             "\" (state, active, expected, received, last_command, last_status)");
        }
    }
    return status;
}

ConfigItemProfile parseItem(std::string_view text, std::uint8_t valueCount) {
    if (text == "absent") {
        return ConfigItemProfile{false, 0, 0};
    }
    ConfigItemProfile item;
    bool stored = false;
    for (const scenario::Setting& s : scenario::splitSettings(text)) {
        std::uint8_t* target = s.key == "stored"    ? &item.stored
                               : s.key == "default" ? &item.defaultValue
                                                    : nullptr;
        if (target == nullptr || !s.hasValue) {
            throw ValueError("expected \"absent\" or \"stored=N default=N\", got \"" +
                             std::string(text) + "\"");
        }
        *target = static_cast<std::uint8_t>(scenario::parseNumber(s.value, valueCount - 1u));
        stored = stored || s.key == "stored";
    }
    if (!stored) {
        throw ValueError("the stored value is missing (stored=N)");
    }
    return item;
}

ExtraInterfaceProfile parseExtra(std::string_view text) {
    const std::vector<scenario::Setting> settings = scenario::splitSettings(text);
    if (settings.empty() || settings[0].hasValue) {
        throw ValueError("expected bootloader, management or unreadable, then settings");
    }
    ExtraInterfaceProfile extra;
    const std::string& kind = settings[0].key;
    if (kind == "bootloader") {
        extra.kind = ExtraInterfaceProfile::Kind::Bootloader;
    } else if (kind == "management") {
        extra.kind = ExtraInterfaceProfile::Kind::Management;
    } else if (kind == "unreadable") {
        extra.kind = ExtraInterfaceProfile::Kind::Unreadable;
    } else {
        throw ValueError("expected bootloader, management or unreadable, got \"" + kind + "\"");
    }
    for (std::size_t i = 1; i < settings.size(); ++i) {
        const scenario::Setting& s = settings[i];
        if (s.key == "serial" && s.hasValue) {
            extra.serial = s.value;
        } else if (s.key == "appear_ms" && s.hasValue) {
            extra.appearMs = scenario::parseNumber(s.value);
        } else if (s.key == "churn_ms" && s.hasValue) {
            extra.churnMs = scenario::parseNumber(s.value);
        } else {
            throw ValueError("unknown setting \"" + s.key +
                             "\" (serial=..., appear_ms=..., churn_ms=...)");
        }
    }
    return extra;
}

std::vector<std::uint8_t> parseChunkSizes(std::string_view text) {
    std::vector<std::uint8_t> sizes;
    for (const scenario::Setting& s : scenario::splitSettings(text)) {
        const std::uint32_t size = scenario::parseNumber(s.key, 56);
        if (s.hasValue || size == 0) {
            throw ValueError("expected sizes from 1 to 56 separated by blanks");
        }
        sizes.push_back(static_cast<std::uint8_t>(size));
    }
    if (sizes.empty()) {
        throw ValueError("expected at least one size from 1 to 56");
    }
    return sizes;
}

// "START_UPDATE 2" or "DATA_CHUNK every" = "status BUSY", "unplug 0", "payload_length 0
// report=3".
FaultProfile parseFault(std::string_view key, std::string_view value) {
    FaultProfile fault;
    const std::vector<scenario::Setting> target = scenario::splitSettings(key);
    if (target.size() != 2 || target[0].hasValue || target[1].hasValue) {
        throw ValueError(
            "a fault is written \"COMMAND N = kind [value] [report=K]\" with N a "
            "number from 1 or \"every\"");
    }
    fault.command = scenario::parseCommand(target[0].key);
    fault.occurrence = target[1].key == "every" ? 0 : scenario::parseNumber(target[1].key);
    if (target[1].key != "every" && fault.occurrence == 0) {
        throw ValueError("occurrences count from 1; use \"every\" for all of them");
    }
    const std::vector<scenario::Setting> words = scenario::splitSettings(value);
    if (words.empty() || words[0].hasValue) {
        throw ValueError("the fault kind is missing");
    }
    const auto kind = faultKindFromName(words[0].key);
    if (!kind) {
        throw ValueError("unknown fault kind \"" + words[0].key +
                         "\" (status, no_answer, answer_lost, stale, foreign, bad_magic, "
                         "bad_version, bad_command, bad_sequence, no_report_id, payload_length, "
                         "delay, unplug, extra_after_end, omit_item)");
    }
    fault.kind = *kind;
    std::size_t next = 1;
    if (faultKindTakesValue(fault.kind)) {
        if (next < words.size() && !words[next].hasValue) {
            fault.value = fault.kind == FaultKind::Status ? scenario::parseStatus(words[next].key)
                                                          : scenario::parseNumber(words[next].key);
            ++next;
        } else if (fault.kind == FaultKind::Stale || fault.kind == FaultKind::Foreign) {
            fault.value = 1;
        } else if (fault.kind != FaultKind::Unplug) {
            throw ValueError("the fault \"" + words[0].key + "\" needs a value");
        }
    }
    if (fault.kind == FaultKind::OmitItem && fault.command != command::kGetConfig) {
        throw ValueError(
            "omit_item bends the item list of a GET_CONFIG answer: only for GET_CONFIG");
    }
    for (; next < words.size(); ++next) {
        if (words[next].key != "report" || !words[next].hasValue) {
            throw ValueError("unexpected \"" + words[next].key + "\" after the fault kind");
        }
        fault.report = scenario::parseNumber(words[next].value);
        if (fault.command != command::kFaultDump || !faultKindCanAimAtDumpReport(fault.kind)) {
            throw ValueError(
                "report=K aims at a dump report: only for FAULT_DUMP faults that "
                "bend one report");
        }
    }
    return fault;
}

using Apply = std::function<void(AdapterProfile&, std::string_view)>;
struct Field {
    bool repeatable = false;
    Apply apply;
};
using Section = std::map<std::string, Field, std::less<>>;

Field once(Apply apply) {
    return Field{false, std::move(apply)};
}

// How the fault dump has been given so far: lines (line, raw) or generated.
struct DumpState {
    bool started = false;
    bool generated = false;
};

std::map<std::string, Section, std::less<>> sectionTable(DumpState& dump) {
    using namespace scenario;
    std::map<std::string, Section, std::less<>> table;
    table["adapter"] = {
        {"identity", once([](AdapterProfile& s, std::string_view v) {
             s.identity.initial = parseIdentity(v);
         })},
        {"manufacturer", once([](AdapterProfile& s, std::string_view v) {
             s.identity.manufacturer = parseText(v);
         })},
        {"bootloader_product", once([](AdapterProfile& s, std::string_view v) {
             s.identity.bootloaderProduct = parseText(v);
         })},
        {"management_product", once([](AdapterProfile& s, std::string_view v) {
             s.identity.managementProduct = parseText(v);
         })},
        {"serial",
         once([](AdapterProfile& s, std::string_view v) { s.identity.serial = parseText(v); })},
        {"bootloader_path", once([](AdapterProfile& s, std::string_view v) {
             s.identity.bootloaderPath = parseText(v);
         })},
        {"management_path", once([](AdapterProfile& s, std::string_view v) {
             s.identity.managementPath = parseText(v);
         })},
    };
    table["bootloader"] = {
        {"protocol", once([](AdapterProfile& s, std::string_view v) {
             const std::size_t dot = v.find('.');
             if (dot == std::string_view::npos) {
                 throw ValueError("expected major.minor like 1.2, got \"" + std::string(v) + "\"");
             }
             s.bootloader.protocolMajor = parseByte(v.substr(0, dot));
             s.bootloader.protocolMinor = parseByte(v.substr(dot + 1));
         })},
        {"report_length", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.reportLength = parseByte(v);
         })},
        {"payload_capacity", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.payloadCapacity = parseByte(v);
         })},
        {"device_id", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.deviceId = toArray<12>(parseHexBytes(v, 12));
         })},
        {"version", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.bootloaderVersion = parseVersionBytes(v);
         })},
        {"hardware_version", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.hardwareVersion = parseVersionBytes(v);
         })},
        {"compatibility", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.compatibility = parseByte(v);
         })},
        {"max_image_size", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.maxImageSize = parseNumber(v);
         })},
        {"transfer", once([](AdapterProfile& s, std::string_view v) {
             s.bootloader.prior = parseTransfer(v);
         })},
    };
    table["application"] = {
        {"valid",
         once([](AdapterProfile& s, std::string_view v) { s.application.valid = parseYesNo(v); })},
        {"version", once([](AdapterProfile& s, std::string_view v) {
             s.application.version = parseVersionBytes(v);
         })},
        {"hwif", once([](AdapterProfile& s, std::string_view v) {
             s.application.hardwareInterface = parseVersionBytes(v);
         })},
        {"compatibility", once([](AdapterProfile& s, std::string_view v) {
             s.application.compatibility = parseByte(v);
         })},
        {"identity", once([](AdapterProfile& s, std::string_view v) {
             const std::string text = parseText(v);
             if (text.size() != 4) {
                 throw ValueError("expected four characters like APP1");
             }
             s.application.identity = text;
         })},
        {"wire_format", once([](AdapterProfile& s, std::string_view v) {
             s.application.wireFormat = parseByte(v);
         })},
        {"info_tail", once([](AdapterProfile& s, std::string_view v) {
             s.application.infoTail = toArray<9>(parseHexBytes(v, 9));
         })},
    };
    auto number = [](std::uint32_t TimingProfile::*member) {
        return once(
            [member](AdapterProfile& s, std::string_view v) { s.timing.*member = parseNumber(v); });
    };
    table["timing"] = {
        {"usb_frames",
         once([](AdapterProfile& s, std::string_view v) { s.timing.usbFrames = parseYesNo(v); })},
        {"plug_in_ms", number(&TimingProfile::plugInMs)},
        {"response_ms", number(&TimingProfile::responseMs)},
        {"end_update_ms", number(&TimingProfile::endUpdateMs)},
        {"detach_ms", number(&TimingProfile::detachMs)},
        {"app_enumeration_ms", number(&TimingProfile::appEnumerationMs)},
        {"bootloader_enumeration_ms", number(&TimingProfile::bootloaderEnumerationMs)},
        {"dump_interval_ms", number(&TimingProfile::dumpIntervalMs)},
        {"dump_chunk_sizes", once([](AdapterProfile& s, std::string_view v) {
             s.timing.dumpChunkSizes = parseChunkSizes(v);
         })},
        {"after_install", once([](AdapterProfile& s, std::string_view v) {
             s.timing.afterInstall = parseAfterInstall(v);
         })},
    };
    auto dumpText = [&dump](bool lineEnd) {
        return Field{
            true, [&dump, lineEnd](AdapterProfile& s, std::string_view v) {
                if (dump.generated) {
                    throw ValueError("the dump is generated; line and raw cannot add to it");
                }
                if (!dump.started) {
                    s.faultDump.clear();
                    dump.started = true;
                }
                s.faultDump += parseText(v);
                if (lineEnd) {
                    s.faultDump += "\r\n";
                }
            }};
    };
    table["fault_dump"] = {
        {"line", dumpText(true)},
        {"raw", dumpText(false)},
        {"generated", once([&dump](AdapterProfile& s, std::string_view v) {
             if (dump.started) {
                 throw ValueError("a generated dump takes the place of line and raw");
             }
             dump.started = dump.generated = true;
             std::uint32_t records = 0;
             std::uint32_t size = 0;
             for (const Setting& setting : splitSettings(v)) {
                 if (setting.key == "records" && setting.hasValue) {
                     records = parseNumber(setting.value, kMostFaultRecords);
                 } else if (setting.key == "size" && setting.hasValue) {
                     size = parseNumber(setting.value);
                 } else {
                     throw ValueError("expected records=N size=BYTES, got \"" + setting.key + "\"");
                 }
             }
             try {
                 s.faultDump = generatedFaultDump(records, size);
             } catch (const std::invalid_argument& error) {
                 throw ValueError(error.what());
             }
         })},
    };
    for (std::size_t i = 0; i < kConfigItemCount; ++i) {
        table["config"]["item" + std::to_string(i + 1)] =
            once([i](AdapterProfile& s, std::string_view v) {
                s.config[i] = parseItem(v, kConfigValueCounts[i]);
            });
    }
    table["bus"] = {{"extra", Field{true, [](AdapterProfile& s, std::string_view v) {
                                        s.extras.push_back(parseExtra(v));
                                    }}}};
    table["faults"] = {};
    return table;
}

}  // namespace

AdapterProfile parseScenario(std::string_view text, const std::string& sourceName) {
    AdapterProfile profile = defaultAdapterProfile();
    DumpState dump;
    const auto table = sectionTable(dump);
    const Section* section = nullptr;
    std::string sectionName;
    std::map<std::string, std::size_t> seen;  // "section.field" -> line

    std::istringstream lines{std::string(text)};
    std::string raw;
    for (std::size_t number = 1; std::getline(lines, raw); ++number) {
        const std::string where = sourceName + ":" + std::to_string(number) + ": ";
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                throw ScenarioError(where + "a section header is written [name]");
            }
            sectionName = std::string(trim(line.substr(1, line.size() - 2)));
            const auto found = table.find(sectionName);
            if (found == table.end()) {
                std::string message = where;
                message += "unknown section [";
                message += sectionName;
                message +=
                    "] (adapter, bootloader, application, timing, fault_dump, config, "
                    "faults, bus)";
                throw ScenarioError(message);
            }
            section = &found->second;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            throw ScenarioError(where + "expected \"field = value\"");
        }
        const std::string key(trim(line.substr(0, equals)));
        const std::string_view value = trim(line.substr(equals + 1));
        if (section == nullptr) {
            std::string message = where;
            message += key;
            message += ": a field must stand in a [section]";
            throw ScenarioError(message);
        }
        std::string field = sectionName;
        field += '.';
        field += key;
        try {
            if (sectionName == "faults") {
                profile.faults.push_back(parseFault(key, value));
                continue;
            }
            const auto found = section->find(key);
            if (found == section->end()) {
                throw ScenarioError(where + field + ": unknown field");
            }
            if (!found->second.repeatable) {
                const auto [earlier, first] = seen.emplace(field, number);
                if (!first) {
                    throw ScenarioError(where + field + ": given twice (first on line " +
                                        std::to_string(earlier->second) + ")");
                }
            }
            found->second.apply(profile, value);
        } catch (const ValueError& error) {
            throw ScenarioError(where + field + ": " + error.what());
        }
    }
    return profile;
}

AdapterProfile readScenarioFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw ScenarioError("Unable to read scenario file " + platform::toUtf8(path.native()));
    }
    std::ostringstream content;
    content << file.rdbuf();
    return parseScenario(content.str(), platform::toUtf8(path.native()));
}

}  // namespace velkora::sim

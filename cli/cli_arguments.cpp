#include "cli/cli_arguments.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "common/text.h"
#include "config/config_items.h"
#include "config/config_view.h"

namespace velkora::cli {

const char* const kUsage =
    "Usage: velkora-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  list                          the Velkora interfaces present: identity, serial, path\n"
    "  info                          the adapter's versions, compatibility and application\n"
    "  update --yes [--package DIR]  install the firmware package (default: firmware/ beside\n"
    "                                the program)\n"
    "  fault-log [--save FILE]       show the fault log; it is saved in logs/, and in FILE\n"
    "  clear-fault-log --yes [--save FILE]\n"
    "                                save the fault log, then clear it on the adapter\n"
    "  config show                   the adapter's configuration\n"
    "  config set ITEM VALUE ... [--store]\n"
    "                                change items (ITEM: 1 to 9 or its name, VALUE: its\n"
    "                                number or name); stored only with --store\n"
    "  config defaults [--store]     the default configuration; stored only with --store\n"
    "  start                         start the adapter's application\n"
    "\n"
    "Options:\n"
    "  --serial SERIAL   the adapter with this USB serial number, when several are connected\n"
    "  --wait SECONDS    wait up to SECONDS for the adapter to appear (default 10)\n"
    "  --json            one JSON document on standard output (update: JSON lines)\n"
    "  --yes             confirm an update or the clearing of the fault log\n"
    "  --store           store the configuration; the adapter restarts and is read again\n"
    "  --help, --version\n"
    "\n"
    "Exit codes: 0 done, 1 failed (transport, package, time-out), 2 usage error,\n"
    "3 no adapter or more than one, 4 refused by the adapter, 5 another Velkora program runs.\n";

namespace {

constexpr std::uint32_t kMaxWaitSeconds = 86400;

// The options each command takes besides --json, --help and --version.
const std::map<std::string, std::vector<std::string_view>, std::less<>> kCommands{
    {"list", {}},
    {"info", {"--serial", "--wait"}},
    {"update", {"--serial", "--wait", "--yes", "--package"}},
    {"fault-log", {"--serial", "--wait", "--save"}},
    {"clear-fault-log", {"--serial", "--wait", "--yes", "--save"}},
    {"config show", {"--serial", "--wait"}},
    {"config set", {"--serial", "--wait", "--store"}},
    {"config defaults", {"--serial", "--wait", "--store"}},
    {"start", {"--serial", "--wait"}},
};

// An item or value given by its number or by its name in any letter case.
template <typename Names>
std::optional<std::uint8_t> pick(const std::string& word, const Names& names, std::size_t count,
                                 std::uint8_t first) {
    if (const auto number = parseSmallNumber(word); number) {
        return *number >= first && *number < count + first ? number : std::nullopt;
    }
    // A name may be written with "-" for its blanks, so that it needs no quotes.
    const auto key = [](std::string_view name) {
        std::string lower = toLowerAscii(name);
        std::replace(lower.begin(), lower.end(), ' ', '-');
        return lower;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (key(names(i)) == key(word)) {
            return static_cast<std::uint8_t>(i + first);
        }
    }
    return std::nullopt;
}

std::pair<std::uint8_t, std::uint8_t> parseChange(const std::string& itemWord,
                                                  const std::string& valueWord) {
    const auto id = pick(
        itemWord, [](std::size_t i) { return kConfigItems[i].name; }, kConfigItemCount, 1);
    if (!id) {
        throw UsageError("config set: there is no item \"" + itemWord + "\".");
    }
    const ConfigItemInfo& item = configItem(*id);
    const auto value = pick(
        valueWord, [&item](std::size_t i) { return item.valueNames[i]; }, item.valueCount, 0);
    if (!value) {
        throw UsageError("config set: " + std::string(item.name) + " has no value \"" + valueWord +
                         "\".");
    }
    return {*id, *value};
}

}  // namespace

CliRequest parseCliArguments(const std::vector<std::string>& arguments) {
    CliRequest request;
    std::vector<std::string> words;
    std::vector<std::string> options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!argument.starts_with("--")) {
            words.push_back(argument);
            continue;
        }
        if (std::find(options.begin(), options.end(), argument) != options.end()) {
            throw UsageError(argument + " is given twice.");
        }
        options.push_back(argument);
        const bool takesValue = argument == "--serial" || argument == "--wait" ||
                                argument == "--package" || argument == "--save";
        if (takesValue && (i + 1 == arguments.size() || arguments[i + 1].empty())) {
            throw UsageError(argument + " needs a value.");
        }
        if (argument == "--help") {
            request.help = true;
        } else if (argument == "--version") {
            request.version = true;
        } else if (argument == "--json") {
            request.json = true;
        } else if (argument == "--yes") {
            request.yes = true;
        } else if (argument == "--store") {
            request.store = true;
        } else if (argument == "--serial") {
            request.serial = arguments[++i];
        } else if (argument == "--package") {
            request.package = arguments[++i];
        } else if (argument == "--save") {
            request.save = arguments[++i];
        } else if (argument == "--wait") {
            const std::string& seconds = arguments[++i];
            // Digits only, and never more of them than the limit has, so that the conversion
            // cannot overflow.
            if (seconds.find_first_not_of("0123456789") != std::string::npos ||
                seconds.size() > std::to_string(kMaxWaitSeconds).size() ||
                std::stoul(seconds) > kMaxWaitSeconds) {
                throw UsageError("--wait needs a whole number of seconds from 0 to 86400.");
            }
            request.waitSeconds = static_cast<std::uint32_t>(std::stoul(seconds));
        } else {
            throw UsageError("there is no option " + argument + ".");
        }
    }
    if (request.help || request.version) {
        return request;
    }
    if (words.empty()) {
        throw UsageError("a command is needed.");
    }
    request.command = words[0];
    std::size_t used = 1;
    if (words[0] == "config" && words.size() > 1) {
        request.command += " " + words[1];
        used = 2;
    }
    const auto command = kCommands.find(request.command);
    if (command == kCommands.end()) {
        throw UsageError("there is no command \"" + request.command + "\".");
    }
    for (const std::string& option : options) {
        const auto& allowed = command->second;
        if (option != "--json" &&
            std::find(allowed.begin(), allowed.end(), option) == allowed.end()) {
            throw UsageError(request.command + " does not take " + option + ".");
        }
    }
    if (request.command == "config set") {
        const std::size_t pairs = words.size() - used;
        if (pairs == 0 || pairs % 2 != 0) {
            throw UsageError("config set needs pairs of ITEM and VALUE.");
        }
        for (; used < words.size(); used += 2) {
            request.changes.push_back(parseChange(words[used], words[used + 1]));
        }
    }
    if (used < words.size()) {
        throw UsageError(request.command + " does not take \"" + words[used] + "\".");
    }
    if ((request.command == "update" || request.command == "clear-fault-log") && !request.yes) {
        throw UsageError(request.command +
                         (request.command == "update" ? " replaces the adapter's firmware"
                                                      : " erases the adapter's fault log") +
                         ": add --yes to go ahead.");
    }
    return request;
}

}  // namespace velkora::cli

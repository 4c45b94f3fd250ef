#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace ecusim {
namespace {

// Decimal, or hexadecimal after 0x. A leading 0 is not octal: "010" is ten.
std::optional<unsigned long> ParseByteNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) return std::nullopt;
    for (char c : text) {
        bool digit = (c >= '0' && c <= '9') ||
                     (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) return std::nullopt;
    }
    unsigned long value = std::strtoul(std::string(text).c_str(), nullptr, base);
    if (value > 255) return std::nullopt;
    return value;
}

std::optional<double> ParseSeconds(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string ScenarioList() {
    std::string list;
    for (const ScenarioInfo& info : AllScenarios()) {
        if (!list.empty()) list += ", ";
        list += info.name;
    }
    return list;
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    SimOptions& o = parsed.options;
    auto fail = [&parsed](std::string message) {
        parsed.error = std::move(message);
        return parsed;
    };

    bool scenario_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "--") {
            o.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            if (o.command.empty()) return fail("'--' must be followed by a command to run");
            break;
        }
        // --name=value is the same as --name value.
        std::optional<std::string> inline_value;
        if (arg.rfind("--", 0) == 0) {
            std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inline_value = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&](std::string* out) {
            if (inline_value) {
                *out = *inline_value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        auto flag = [&]() { return !inline_value.has_value(); };

        std::string v;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--pace") {
            if (!flag()) return fail("--pace takes no value");
            o.pace = true;
        } else if (arg == "--trace") {
            if (!flag()) return fail("--trace takes no value");
            o.trace = true;
        } else if (arg == "--scenario") {
            if (!value(&v)) return fail("--scenario needs a name (" + ScenarioList() + ")");
            std::optional<Scenario> s = ScenarioByName(v);
            if (!s) return fail("unknown scenario '" + v + "' (known: " + ScenarioList() + ")");
            o.scenario = *s;
            scenario_given = true;
        } else if (arg == "--set") {
            if (!value(&v)) return fail("--set needs ADDR=VALUE");
            std::size_t eq = v.find('=');
            std::optional<unsigned long> address, byte;
            if (eq != std::string::npos) {
                address = ParseByteNumber(std::string_view(v).substr(0, eq));
                byte = ParseByteNumber(std::string_view(v).substr(eq + 1));
            }
            if (!address || !byte)
                return fail("bad --set '" + v +
                            "': expected ADDR=VALUE, each 0-255 in decimal or 0x hex (e.g. 15=0x04)");
            o.overrides.push_back(
                {static_cast<std::uint8_t>(*address), static_cast<std::uint8_t>(*byte)});
        } else if (arg == "--device") {
            if (!value(&v) || v.empty()) return fail("--device needs a serial device path");
            o.device = v;
        } else if (arg == "--speed") {
            std::optional<double> s;
            if (value(&v)) s = ParseSeconds(v);
            if (!s || *s <= 0 || *s > 1000)
                return fail("--speed needs a factor above 0 and at most 1000 (e.g. 4)");
            o.speed = *s;
        } else if (arg == "--latency") {
            std::optional<double> ms;
            if (value(&v)) ms = ParseSeconds(v);
            if (!ms || *ms < 0 || *ms > 1000)
                return fail("--latency needs milliseconds, 0 to 1000 (e.g. 16)");
            o.latency_ms = *ms;
        } else if (arg == "--link") {
            if (!value(&v) || v.empty()) return fail("--link needs a path for the link to the port");
            o.link = v;
        } else if (arg == "--unplug") {
            std::optional<double> at, span;
            if (value(&v) && v.find(':') != std::string::npos) {
                at = ParseSeconds(v.substr(0, v.find(':')));
                span = ParseSeconds(v.substr(v.find(':') + 1));
            }
            if (!at || !span || *at < 0 || *span <= 0)
                return fail("--unplug needs AT:FOR in seconds, e.g. 10:5 (pulled at 10 s, back 5 s later)");
            o.unplugs.push_back({*at, *span});
        } else if (arg == "--replay") {
            if (!value(&v) || v.empty()) return fail("--replay needs a recording (a file the monitor's --log wrote)");
            if (!o.replay.empty()) return fail("--replay given twice: one recording is played at a time");
            o.replay = v;
        } else if (arg == "--step") {
            o.step = true;
        } else if (arg == "--time") {
            std::optional<double> t;
            if (value(&v)) t = ParseSeconds(v);
            if (!t || *t < 0) return fail("--time needs a number of seconds, 0 or more");
            o.frozen_at = *t;
        } else {
            return fail("unknown option '" + args[i] + "'");
        }
    }
    if (!o.device.empty() && (!o.link.empty() || !o.unplugs.empty()))
        return fail("--link and --unplug play a pseudo-terminal; a real --device is unplugged by hand");
    if (!o.replay.empty() && scenario_given)
        return fail("--replay and --scenario both say what the car does; give one of them");
    if (o.step && o.replay.empty()) return fail("--step plays a recording row by row: give --replay FILE too");
    if (!o.replay.empty() && o.frozen_at)
        return fail("--time stops a scenario's clock; a recording is played from its start");
    return parsed;
}

std::string Usage() {
    std::string text =
        "Usage: ecusim [options]                  serve on a new pseudo-terminal until Ctrl-C\n"
        "       ecusim [options] -- COMMAND ARGS  run COMMAND with {port} replaced by the port,\n"
        "                                         and exit with its exit code\n"
        "\n"
        "Plays the engine ECU: each request byte is answered with its echo and then\n"
        "the value of that register (unknown addresses answer 0).\n"
        "\n"
        "Options:\n"
        "  --scenario NAME    what the car is doing (default drive):\n";
    for (const ScenarioInfo& info : AllScenarios()) {
        std::string name(info.name);
        text += "                       " + name + std::string(8 - name.size(), ' ') +
                std::string(info.description) + "\n";
    }
    text +=
        "  --set ADDR=VALUE   hold register ADDR at VALUE (0-255, decimal or 0x hex);\n"
        "                     repeatable, overrides the scenario\n"
        "  --pace             answer at the real line speed (1.28 ms per byte at 7812\n"
        "                     baud) after a short ECU reaction time\n"
        "  --latency MS       play a USB-serial adapter whose latency timer is MS ms:\n"
        "                     bytes for the monitor are held until the timer's next\n"
        "                     tick (16 is the usual default, 1 what low latency gives)\n"
        "  --trace            write every request and answer, timestamped, to stderr\n"
        "  --device PATH      serve on a real serial port (7812 baud 8N1) instead of a\n"
        "                     pseudo-terminal, e.g. a null-modem cable to the monitor\n"
        "  --link PATH        serve through a symlink at PATH to the pseudo-terminal, as\n"
        "                     /dev/serial/by-id names a USB adapter; {port} is PATH.\n"
        "                     Only a symbolic link at PATH is replaced or removed:\n"
        "                     a file or a device there is refused (exit code 2)\n"
        "  --unplug AT:FOR    pull the adapter out AT seconds after the start (the\n"
        "                     pseudo-terminal goes away) and plug it back FOR seconds\n"
        "                     later, as a new one under the same --link; repeatable.\n"
        "                     SIGUSR1 pulls it out or plugs it back at any time\n"
        "  --replay FILE      answer from a recording the monitor made with --log, at\n"
        "                     the recorded pace: rows the monitor is too slow for are\n"
        "                     skipped; at its end the last row is held\n"
        "  --step             with --replay: one row per monitor cycle, none skipped,\n"
        "                     never ahead of the recorded pace\n"
        "  --speed FACTOR     run the scenario's or the recording's clock FACTOR times\n"
        "                     faster (below 1: slower)\n"
        "  --time SECONDS     stop the scenario clock at SECONDS\n"
        "  --help             this text\n"
        "\n"
        "Exit codes: 0 stopped by Ctrl-C or SIGTERM; 2 bad options, unusable device or\n"
        "a file that is not a recording;\n"
        "with a COMMAND, the command's exit code (128+N when it was killed by signal N).\n";
    return text;
}

}  // namespace ecusim

// The simulator's command line, shared by the ecusim program and the
// end-to-end test library (which runs the same simulator in-process).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scenario.h"

namespace ecusim {

struct RegisterOverride {
    std::uint8_t address;
    std::uint8_t value;
};

// The line dropped `at` seconds after the start, back `span` seconds later.
struct Unplug {
    double at;
    double span;
};

struct SimOptions {
    Scenario scenario = Scenario::kDrive;
    std::vector<RegisterOverride> overrides;  // --set, applied last
    bool pace = false;                        // real line timing
    bool trace = false;                       // every request and answer to stderr
    std::string device;                       // empty: a fresh pseudo-terminal
    double speed = 1.0;                       // scenario seconds per real second
    std::optional<double> frozen_at;          // --time: scenario clock stopped there
    double latency_ms = 0;                    // --latency: USB adapter's latency timer
    std::string link;                         // --link: served through a symlink here
    std::vector<Unplug> unplugs;              // --unplug AT:FOR, in the order given
    std::string replay;                       // --replay: a recording instead of the scenario
    bool step = false;                        // --step: one row a cycle at most, none skipped
    std::vector<std::string> command;         // after "--", with {port} placeholders
    bool help = false;
};

struct ParsedOptions {
    SimOptions options;
    std::string error;  // empty when the command line was good
};

// `args` are the arguments after the program name.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

std::string Usage();

}  // namespace ecusim

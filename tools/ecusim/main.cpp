// ecusim: plays the engine ECU on a pseudo-terminal or a serial port.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "options.h"
#include "simulator.h"

namespace {

ecusim::Simulator* serving = nullptr;

void StopServing(int) {
    if (serving != nullptr) serving->Stop();
}

void TogglePlug(int) {
    if (serving != nullptr) serving->TogglePlug();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ecusim::ParsedOptions parsed = ecusim::ParseOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "ecusim: %s\nTry 'ecusim --help' for the options.\n", parsed.error.c_str());
        return 2;
    }
    const ecusim::SimOptions& options = parsed.options;
    if (options.help) {
        std::fputs(ecusim::Usage().c_str(), stdout);
        return 0;
    }

    std::string error;
    std::unique_ptr<ecusim::Simulator> sim = ecusim::Simulator::Open(options, &error);
    if (!sim) {
        std::fprintf(stderr, "ecusim: %s\n", error.c_str());
        return 2;
    }

    const ecusim::Recording& recording = sim->recording();
    if (recording.cut_short_line != 0)
        std::fprintf(stderr, "ecusim: line %zu of '%s' is cut short (the recorder was stopped while writing it): left out\n",
                     recording.cut_short_line, options.replay.c_str());

    // Ready to pull the adapter out before anyone can know the port. A real
    // device cannot be unplugged from here: there SIGUSR1 is ignored rather
    // than closing the device and coming back as a pseudo-terminal.
    serving = sim.get();
    struct sigaction plug {};
    plug.sa_handler = options.device.empty() ? TogglePlug : SIG_IGN;
    plug.sa_flags = SA_RESTART;
    sigemptyset(&plug.sa_mask);
    sigaction(SIGUSR1, &plug, nullptr);

    if (!options.command.empty()) return ecusim::RunCommand(*sim, options.command);

    // Ready for a stop before anyone can know the port.
    struct sigaction stop {};
    stop.sa_handler = StopServing;
    sigemptyset(&stop.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop, nullptr);

    // The bare path on stdout for scripts; the explanation for people.
    std::printf("%s\n", sim->port().c_str());
    std::fflush(stdout);
    if (options.replay.empty()) {
        std::fprintf(stderr, "ecusim: scenario '%s' on %s\n",
                     std::string(ecusim::ScenarioName(options.scenario)).c_str(), sim->port().c_str());
    } else {
        std::fprintf(stderr, "ecusim: replaying '%s' (%zu rows, %.3f s%s) on %s\n", options.replay.c_str(),
                     recording.rows.size(), recording.rows.back().seconds - recording.rows.front().seconds,
                     recording.cat_mode ? ", cat mode" : "", sim->port().c_str());
    }
    // A recording without the lambda columns has nothing for cat mode to show.
    const bool cat_mode = options.replay.empty() || recording.cat_mode;
    std::fprintf(stderr, "ecusim: start the monitor with: tarnwickdialer %s%s   (Ctrl-C stops the simulator)\n",
                 sim->port().c_str(), cat_mode ? " c" : "");

    sim->Serve();
    serving = nullptr;
    return 0;
}

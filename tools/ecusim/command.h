// Running a program against the simulator: `ecusim -- COMMAND ARGS...`.
#pragma once
#include <string>
#include <vector>

#include "simulator.h"

namespace ecusim {

// Every "{port}" inside every argument replaced by `port`.
std::vector<std::string> SubstitutePort(const std::vector<std::string>& command,
                                        const std::string& port);

// Starts `command` (searched on PATH, {port} substituted, ECUSIM_PORT set in
// its environment) on the caller's terminal and serves `sim` until it ends.
// Ctrl-C belongs to the command: the simulator ignores SIGINT and SIGQUIT
// meanwhile and passes SIGTERM and SIGHUP on. Returns what a shell would:
// the command's exit code, 128+N when signal N ended it, 127 when it could
// not be started.
int RunCommand(Simulator& sim, const std::vector<std::string>& command);

}  // namespace ecusim

// Recording a drive with --log: what a killed monitor leaves, and a drive
// played back to a second monitor.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "dashboard_screens.h"
#include "harness.h"
#include "reliability.h"

namespace {

using namespace std::chrono_literals;
using namespace reliability;

// kill -9 leaves no way to flush: every row written so far is still whole,
// at worst the last one is cut short, and no cell is ever empty.
TEST(Recording, KilledMidCycleLeavesAValidFile) {
    const std::string recording = NewRecordingPath("killed");
    e2e::Session s({.args = {"{port}", "--log", recording}, .simulator = {"--scenario", "drive"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForRequests(3 * Cycle(false).size() + 7)) << s.Dump();
    s.SendSignal(SIGKILL);
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_EQ(s.exit_signal(), SIGKILL);
    const int cycles = static_cast<int>(s.RequestedAddresses().size() / Cycle(false).size());
    const int rows = CompleteRows(recording);
    EXPECT_TRUE(rows == cycles || rows == cycles - 1) << rows << " rows, " << cycles << " cycles";
}

}  // namespace

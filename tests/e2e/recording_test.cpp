// Recording a drive with --log: what a killed monitor leaves, and a drive
// played back to a second monitor.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
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

// Every cell of a row but its time.
std::string WithoutTime(const std::string& row) { return row.substr(row.find(',')); }

// The dashboard below the spinner's row, as the monitor left it, but for
// the link line's measured rate.
std::vector<std::string> Dashboard(const e2e::Session& s) {
    std::vector<std::string> rows;
    for (int row = 4; row < 25; ++row) rows.push_back(row == 21 ? s.Text(0, row, 15) : s.Row(row));
    return rows;
}

// A drive recorded, played back with ecusim --replay to a second monitor
// that records too: both files agree in every column but time, and the two
// dashboards end the same. Played far faster than recorded with --step, the
// replay serves one row per cycle of the second monitor, none skipped.
TEST(Recording, ReplayedDriveRecordsTheSameRows) {
    const std::string first = NewRecordingPath("drive"), second = NewRecordingPath("replayed");
    constexpr std::size_t kCycles = 30;
    e2e::Session record({.args = {"{port}", "c", "--log", first}, .simulator = {"--scenario", "drive"}});
    ASSERT_TRUE(record.ok()) << record.error();
    ASSERT_TRUE(WaitForCycles(record, kCycles, true, 30s)) << record.Dump();
    record.SendKeys("q");
    ASSERT_TRUE(record.WaitExit()) << record.Dump();
    const std::vector<std::string> recorded = RecordingLines(first);
    ASSERT_GE(recorded.size(), kCycles + 1);

    e2e::Session replay({.args = {"{port}", "c", "--log", second}, .simulator = {"--replay", first, "--speed", "1000", "--step"}});
    ASSERT_TRUE(replay.ok()) << replay.error();
    // Past the end: the last row is held.
    ASSERT_TRUE(WaitForCycles(replay, recorded.size() + 2, true, 30s)) << replay.Dump();
    replay.SendKeys("q");
    ASSERT_TRUE(replay.WaitExit()) << replay.Dump();
    const std::vector<std::string> replayed = RecordingLines(second);
    ASSERT_GT(replayed.size(), recorded.size());
    EXPECT_EQ(replayed[0], recorded[0]);
    for (std::size_t i = 1; i < replayed.size(); ++i)
        EXPECT_EQ(WithoutTime(replayed[i]), WithoutTime(recorded[std::min(i, recorded.size() - 1)])) << "row " << i;
    EXPECT_EQ(Dashboard(replay), Dashboard(record)) << replay.Dump() << record.Dump();
}

// What a command wrote to stdout and stderr, and its exit code.
int RunCommand(const std::string& command, std::string* output) {
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    output->clear();
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output->append(chunk, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A drive with a sensor fault and a mark, its report made (a last row cut
// short, as a killed recorder leaves it) and loaded in headless Chromium:
// the page runs without a script error and shows the summary's figures, the
// fault's lane and the mark. The refusals of the report follow.
TEST(Recording, ReportOfADriveInABrowser) {
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) GTEST_SKIP() << "chromium is not installed";
    const std::string csv = NewRecordingPath("report"), html = csv.substr(0, csv.size() - 4) + ".html";
    std::remove(html.c_str());
    {
        e2e::Session s({.args = {"{port}", "c", "--log", csv}, .simulator = {"--scenario", "drive"}});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(WaitForCycles(s, 3, true)) << s.Dump();
        s.SetRegister(15, 0x10);  // the water temperature sensor: open circuit
        ASSERT_TRUE(s.WaitForTextAt(21, 14, "Open circuit")) << s.Dump();
        s.SendKeys("m");
        ASSERT_TRUE(WaitForCycles(s, s.RequestedAddresses().size() / Cycle(true).size() + 3, true)) << s.Dump();
        s.SetRegister(15, 0);
        ASSERT_TRUE(s.WaitForTextAt(21, 14, "OK ")) << s.Dump();
        ASSERT_TRUE(WaitForCycles(s, s.RequestedAddresses().size() / Cycle(true).size() + 2, true)) << s.Dump();
        s.SendKeys("q");
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
    }
    const std::vector<std::string> lines = RecordingLines(csv);
    double max_revs = 0;
    for (std::size_t i = 1; i < lines.size(); ++i)
        max_revs = std::max(max_revs, std::stod(lines[i].substr(lines[i].find(',') + 1)));
    { std::ofstream(csv, std::ios::app) << "99.0,900"; }

    std::string said;
    ASSERT_EQ(RunCommand(e2e::DialerPath() + " --report " + csv, &said), 0) << said;
    EXPECT_NE(said.find("(line " + std::to_string(lines.size() + 1) + ") was cut short"), std::string::npos) << said;
    EXPECT_NE(said.find("Wrote " + html), std::string::npos) << said;

    char profile[] = "/tmp/td-chromium-XXXXXX";
    ASSERT_NE(mkdtemp(profile), nullptr);
    std::string dom;
    RunCommand("timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=" +
            std::string(profile) + " --dump-dom file://" + html + " 2>/dev/null",
        &dom);
    std::system(("rm -rf " + std::string(profile)).c_str());
    EXPECT_EQ(dom.find("<p id=\"script-error\">"), std::string::npos) << dom.substr(dom.find("<p id=\"script-error\">"), 300);
    EXPECT_NE(dom.find("data-ready-ms="), std::string::npos) << dom.substr(0, 2000);
    EXPECT_NE(dom.find("<span id=\"cycles\">" + std::to_string(lines.size() - 1) + "</span>"), std::string::npos);
    // The highest revs, written as the dashboard writes it.
    EXPECT_TRUE(std::regex_search(dom, std::regex("data-key=\"revs\">.*?<td class=\"v c1[024]\">" +
                                                  std::to_string(static_cast<int>(max_revs)) + "</td>")))
        << max_revs;
    EXPECT_TRUE(std::regex_search(
        dom, std::regex("<div class=\"lname\">Water temp sensor</div><div class=\"track\"><span class=\"fault\"[^>]*>Open circuit</span></div>")));
    EXPECT_NE(dom.find("<b>Water temp sensor</b>: <span class=\"status\">Open circuit</span>"), std::string::npos);
    EXPECT_NE(dom.find("<li>Mark 1 at 0:"), std::string::npos);
    std::size_t canvases = 0;
    for (std::size_t at = 0; (at = dom.find("<canvas", at)) != std::string::npos; ++at) ++canvases;
    EXPECT_EQ(canvases, 7u);  // one chart each: revs, pressure, advance, temperatures, throttle, battery, lambda

    // Refused: an existing page (left as it is), no recording, no such file.
    const std::string not_csv = NewRecordingPath("not-a-recording");
    { std::ofstream(not_csv) << "Time (s);Revs (rpm)\n"; }
    const struct {
        std::string args;
        int code;
        std::string said;
    } kRefusals[] = {
        {csv, 1, "cannot write the report to " + html + ": it already exists, and a report never overwrites"},
        {not_csv + " " + html + ".2", 2, "cannot make a report of '" + not_csv + "': line 1: not a recording: fields separated by ';'"},
        {csv + ".none", 2, "cannot read '" + csv + ".none': no such file"},
        {csv + " " + html + ".3 c", 1, "--report takes a recording"},
    };
    const std::size_t size = RecordingLines(html).size();
    for (const auto& r : kRefusals) {
        EXPECT_EQ(RunCommand(e2e::DialerPath() + " --report " + r.args, &said), r.code) << r.args;
        EXPECT_EQ(said.rfind("tarnwickdialer: " + r.said, 0), 0u) << said;
    }
    EXPECT_EQ(RecordingLines(html).size(), size);
    EXPECT_NE(access((html + ".2").c_str(), F_OK), 0);
}

// Played at --speed 4, a drive whose rows are 0.2 s apart, a lost port's
// silent stretch among them, reaches its last row (the only one at 6000 rpm)
// a quarter of its length after the first request, within a cycle: the rows
// the monitor is too slow for are skipped, silent ones too.
TEST(Recording, ReplayKeepsTheRecordedPace) {
    const std::string path = NewRecordingPath("paced");
    {
        std::ofstream out(path);
        out << "Time (s),Revs (rpm),Injectors (ms),Advance (deg),MAP (mbar),Air temp (C),Water temp (C),"
               "Throttle (deg),Battery (V),Injection angle (deg),VAE (%),Uniram 1,Uniram 2,Uniram 3,Uniram S,"
               "Air temp sensor (status),Knock (status),Water temp sensor (status),MAP sensor (status),"
               "Throttle sensor (status),Camshaft sensor (status),Crankshaft sensor (status),Answered (of 17),Mark\n";
        for (int row = 0; row < 60; ++row)
            out << row / 5 << '.' << row % 5 * 2 << (row == 59 ? ",6000" : ",1000")
                << ",2.4,10,341.5,30,88,0.5,13.9,360,1.0,0,0,0,0,0,0,0,0,0,0,0,"
                << (row >= 20 && row < 37 ? 0 : 17) << ",0\n";
    }
    e2e::Session s({.args = {"{port}"}, .simulator = {"--replay", path, "--speed", "4"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForText("6000 rpm", 15s)) << s.Dump();
    // The first answer that differs from its address's first one: the last row's.
    const std::vector<ecusim::RequestEvent> log = s.Requests();
    const auto first_of = [&](std::uint8_t a) { return std::find_if(log.begin(), log.end(), [&](auto& e) { return e.address == a; }); };
    const auto last = std::find_if(log.begin(), log.end(), [&](auto& e) { return !e.answer.empty() && e.answer != first_of(e.address)->answer; });
    ASSERT_NE(last, log.end());
    const double last_row = last->seconds - log.front().seconds;
    std::printf("last row served %.2f s after the first request (due at 2.95 s)\n", last_row);
    EXPECT_GE(last_row, 59 * 0.2 / 4);
    EXPECT_LT(last_row, 59 * 0.2 / 4 + 1.0);
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
}

}  // namespace

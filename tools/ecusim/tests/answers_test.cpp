// The simulator on its port, seen from the monitor's side of the line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "decode/conversions.h"
#include "options.h"
#include "replay.h"
#include "simulator.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A simulator serving on its own thread, built from ecusim options.
class Served {
public:
    explicit Served(const std::vector<std::string>& args) {
        ecusim::ParsedOptions parsed = ecusim::ParseOptions(args);
        EXPECT_EQ(parsed.error, "");
        std::string error;
        sim_ = ecusim::Simulator::Open(parsed.options, &error);
        EXPECT_NE(sim_, nullptr) << error;
        if (sim_) thread_ = std::thread([this] { sim_->Serve(); });
    }
    ~Served() {
        if (sim_) sim_->Stop();
        if (thread_.joinable()) thread_.join();
    }
    ecusim::Simulator& sim() { return *sim_; }
    const std::string& port() const { return sim_->port(); }

private:
    std::unique_ptr<ecusim::Simulator> sim_;
    std::thread thread_;
};

// The monitor's end of the line, opened and set as the monitor does.
class Line {
public:
    explicit Line(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd_, 0) << path;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Line() {
        if (fd_ >= 0) close(fd_);
    }
    int fd() const { return fd_; }
    void Send(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // Bytes, one read each as the monitor takes them, until `count` have
    // come or nothing more came for `quiet`; later ones stay waiting.
    Bytes Receive(std::size_t count, std::chrono::milliseconds quiet = 1000ms) {
        Bytes got;
        while (got.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
            std::uint8_t byte = 0;
            if (read(fd_, &byte, 1) != 1) break;
            got.push_back(byte);
        }
        return got;
    }
    Bytes Ask(std::uint8_t address) {
        tcflush(fd_, TCIFLUSH);
        Send({address});
        return Receive(2);
    }
    // Nothing further arrives within `window`.
    bool Quiet(std::chrono::milliseconds window = 150ms) { return Receive(1, window).empty(); }

private:
    int fd_ = -1;
};

std::uint16_t Word(Line& line, std::uint8_t high) {
    Bytes h = line.Ask(high), l = line.Ask(static_cast<std::uint8_t>(high + 1));
    EXPECT_EQ(h.size(), 2u);
    EXPECT_EQ(l.size(), 2u);
    if (h.size() < 2 || l.size() < 2) return 0;
    return static_cast<std::uint16_t>(h[1] << 8 | l[1]);
}

std::uint8_t Byte(Line& line, std::uint8_t address) {
    Bytes b = line.Ask(address);
    EXPECT_EQ(b.size(), 2u) << "address " << int(address);
    EXPECT_TRUE(!b.empty() && b[0] == address) << "echo of " << int(address);
    return b.size() == 2 ? b[1] : 0;
}

// Each scenario's key registers, as the monitor would convert them.
TEST(Answers, EachScenarioAnswersItsKeyRegisters) {
    {
        Served s({"--scenario", "off"});
        Line line(s.port());
        EXPECT_EQ(Word(line, 1), 0) << "engine stopped";
        EXPECT_NEAR(ConvertBattery(Byte(line, 10)).value, 12.6, 0.0314);
        EXPECT_EQ(Byte(line, 15), 0);
        EXPECT_EQ(Byte(line, 16), 0);
        EXPECT_EQ(Byte(line, 17), 0);
        EXPECT_EQ(Byte(line, 20), 0) << "open loop";
    }
    {
        Served s({"--scenario", "idle"});
        Line line(s.port());
        EXPECT_NEAR(ConvertRevs(Word(line, 1)).value, 900, 1);
        EXPECT_NEAR(ConvertBattery(Byte(line, 10)).value, 13.9, 0.0314);
        EXPECT_NE(Byte(line, 20), 0) << "closed loop";
        EXPECT_EQ(Byte(line, 15), 0);
    }
    {
        // Half way through the sweep: top revs, in the red.
        Served s({"--scenario", "drive", "--time", "12"});
        Line line(s.port());
        Reading revs = ConvertRevs(Word(line, 1));
        EXPECT_NEAR(revs.value, 6560, 2);
        EXPECT_EQ(revs.colour, 12);
    }
    {
        // The thirteenth case: camshaft short circuit.
        Served s({"--scenario", "faults", "--time", "37.5"});
        Line line(s.port());
        EXPECT_EQ(Word(line, 1), 0) << "engine stopped";
        EXPECT_EQ(Byte(line, 15), 0x01);
        EXPECT_EQ(Byte(line, 16), 0x0A);
        EXPECT_EQ(Byte(line, 21), 13);
    }
}

TEST(Answers, UnknownAddressesAnswerZero) {
    Served s({"--scenario", "idle"});
    Line line(s.port());
    for (int address : {0x00, 0x0B, 0x16, 0x80, 0xFF}) {
        EXPECT_EQ(line.Ask(static_cast<std::uint8_t>(address)), (Bytes{std::uint8_t(address), 0}))
            << "address " << address;
    }
}

TEST(Answers, SetOverridesTheScenario) {
    Served s({"--scenario", "faults", "--set", "15=0x40", "--set", "0x11=128", "--set", "10=200"});
    Line line(s.port());
    EXPECT_EQ(Byte(line, 15), 0x40);
    EXPECT_EQ(Byte(line, 17), 0x80);
    EXPECT_EQ(Byte(line, 10), 200);
}

TEST(Answers, SilentAndEchoOnly) {
    {
        Served s({"--scenario", "silent"});
        Line line(s.port());
        line.Send({0x01});
        EXPECT_TRUE(line.Quiet());
    }
    {
        Served s({"--scenario", "echo"});
        Line line(s.port());
        line.Send({0x0A});
        EXPECT_EQ(line.Receive(1), Bytes{0x0A});
        EXPECT_TRUE(line.Quiet());
    }
}

// Stray bytes follow each answer; a purge before the next request drops them.
TEST(Answers, StrayBytesFollowTheAnswerAndAPurgeDropsThem) {
    Served idle({"--scenario", "idle"});
    Line idle_line(idle.port());
    const std::uint8_t battery = Byte(idle_line, 10);

    Served s({"--scenario", "stray"});
    Line line(s.port());
    for (int i = 0; i < 5; ++i) {
        tcflush(line.fd(), TCIFLUSH);
        line.Send({0x0A});
        Bytes got = line.Receive(3);
        ASSERT_GE(got.size(), 3u) << "no stray byte after answer " << i;
        EXPECT_EQ(got[0], 0x0A);
        EXPECT_EQ(got[1], battery);
    }
    // What the monitor does: purge, request, take the second byte.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Byte(line, 10), battery);
}

TEST(Answers, RequestsArrivingTogetherAreAnsweredInOrder) {
    Served s({"--scenario", "off", "--set", "5=55", "--set", "6=66"});
    Line line(s.port());
    line.Send({5, 6});
    EXPECT_EQ(line.Receive(4), (Bytes{5, 55, 6, 66}));
}

TEST(Answers, PacedAnswersTakeTheLineTime) {
    Served s({"--scenario", "off", "--pace", "--set", "5=55"});
    Line line(s.port());
    const auto sent = std::chrono::steady_clock::now();
    line.Send({5});
    EXPECT_EQ(line.Receive(2), (Bytes{5, 55}));
    // Echo one byte time, then reaction and the value's byte time.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 2 * 1280us + 1500us);
}

// A request that comes before the last answer went out cancels it: a late
// answer never lands inside the next exchange.
TEST(Answers, PacedLateAnswerIsDroppedOnANewRequest) {
    Served s({"--scenario", "off", "--pace", "--set", "5=55", "--set", "6=66"});
    Line line(s.port());
    line.Send({5, 6});
    EXPECT_EQ(line.Receive(2), (Bytes{6, 66}));
    EXPECT_TRUE(line.Quiet());
}

TEST(Answers, TraceShowsRequestsAndAnswers) {
    char* text = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        Served s({"--scenario", "stray", "--trace", "--set", "10=0xC8"});
        s.sim().set_trace_output(out);
        Line line(s.port());
        EXPECT_EQ(Byte(line, 10), 0xC8);
    }
    std::fclose(out);
    const std::string trace(text, size);
    std::free(text);
    EXPECT_NE(trace.find(" rx 0a\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" tx 0a c8 +stray "), std::string::npos) << trace;
    EXPECT_EQ(trace.rfind("ecusim ", 0), 0u) << trace;
}

// The port answers run after run: the exclusive mark a monitor leaves on
// the pty is lifted when it lets go.
TEST(Answers, PortCanBeOpenedAgainAfterAnExclusiveUser) {
    Served s({"--scenario", "off", "--set", "5=55"});
    for (int run = 0; run < 3; ++run) {
        {
            Line line(s.port());
            ASSERT_EQ(ioctl(line.fd(), TIOCEXCL), 0);
            EXPECT_EQ(Byte(line, 5), 55) << "run " << run;
        }
        bool lifted = false;
        for (int i = 0; i < 200 && !lifted; ++i) {
            Line probe(s.port());
            int exclusive = 1;
            ASSERT_EQ(ioctl(probe.fd(), TIOCGEXCL, &exclusive), 0);
            lifted = exclusive == 0;
            if (!lifted) std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(lifted) << "run " << run;
    }
}

// --device: a serial line given by path, set to raw 8N1 by the simulator.
// A pty stands in for the null-modem cable.
TEST(Answers, ServesARealSerialDevice) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[128];
    ASSERT_EQ(ttyname_r(slave, name, sizeof name), 0);
    {
        Served s({"--device", name, "--scenario", "off", "--set", "5=55"});
        EXPECT_EQ(s.port(), name);
        termios tio{};
        ASSERT_EQ(tcgetattr(slave, &tio), 0);
        EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);

        // The test plays the monitor on the far end of the cable.
        const std::uint8_t request = 5;
        ASSERT_EQ(write(master, &request, 1), 1);
        std::uint8_t got[2] = {};
        std::size_t have = 0;
        while (have < 2) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) break;
            ssize_t n = read(master, got + have, 2 - have);
            if (n <= 0) break;
            have += static_cast<std::size_t>(n);
        }
        ASSERT_EQ(have, 2u);
        EXPECT_EQ(got[0], 5);
        EXPECT_EQ(got[1], 55);
    }
    close(master);
    close(slave);
}

TEST(Answers, DevicesThatCannotServeAreRefused) {
    const std::string kCases[] = {"/dev/nonexistent", "/dev/null", "/tmp"};
    for (const std::string& path : kCases) {
        ecusim::SimOptions options;
        options.device = path;
        std::string error;
        EXPECT_EQ(ecusim::Simulator::Open(options, &error), nullptr) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
}

// A recording as the monitor writes one in cat mode: idle; knock at 6000
// rpm; then a cycle nobody answered.
constexpr char kCatHeader[] =
    "Time (s),Revs (rpm),Injectors (ms),Advance (deg),MAP (mbar),Air temp (C),Water temp (C),"
    "Throttle (deg),Battery (V),Injection angle (deg),VAE (%),Lambda integrator (%),Lambda closed (1/0),"
    "Uniram 1,Uniram 2,Uniram 3,Uniram S,Mixture limit (status),Air temp sensor (status),Knock (status),"
    "Water temp sensor (status),Lambda sensor (status),MAP sensor (status),Throttle sensor (status),"
    "Camshaft sensor (status),Crankshaft sensor (status),Answered (of 20),Mark\n";
constexpr char kCatRows[] =
    "0.000,899.982,2.400,10.00,341.5248,30,88,0.4980,13.9416,360.0,1.0440,1.000000,1,0,0,0,0,0,0,0,0,0,0,0,7,7,20,0\n"
    "1.000,6000.000,9.600,25.00,1926.3156,36,104,60.3354,14.3184,247.5,45.0078,4.096000,0,8,0,0,5,0,0,3,0,0,0,0,7,7,"
    "20,1\n"
    "1.100,0.000,0.000,0.00,60.8400,125,125,-1.4100,0.0000,720.0,-16.0000,0.000000,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n";

std::string WriteTemporary(const std::string& text) {
    char path[] = "/tmp/ecusim-replay-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
    close(fd);
    return path;
}

// With --step rows change only at a cycle's first request, at the recorded
// pace, one a cycle; an unanswered cycle plays silent; the last row is held.
TEST(Answers, ReplayPlaysTheRecordingCycleByCycle) {
    const std::string path = WriteTemporary(std::string(kCatHeader) + kCatRows);
    Served s({"--replay", path, "--step"});
    Line line(s.port());
    EXPECT_STREQ(ConvertRevs(Word(line, 1)).text, "Revs:\t\t899 rpm     ");
    EXPECT_STREQ(ConvertBattery(Byte(line, 10)).text, "Battery:\t13.94 volts     ");
    EXPECT_STREQ(ConvertLambdaIntegrator(Word(line, 18)).text, "1.00 %");
    EXPECT_EQ(Byte(line, 20), 1);
    // The next row is due 1 s after the first cycle.
    EXPECT_STREQ(ConvertRevs(Word(line, 1)).text, "Revs:\t\t899 rpm     ");
    std::this_thread::sleep_for(1200ms);
    // Both later rows are due; one cycle takes one.
    EXPECT_STREQ(ConvertRevs(Word(line, 1)).text, "Revs:\t\t6000 rpm     ");
    EXPECT_STREQ(ConvertThrottle(Byte(line, 9)).text, "Throttle:\t60.34 degrees     ");
    EXPECT_EQ(Byte(line, 15), 8);
    EXPECT_EQ(Byte(line, 21), 5);
    EXPECT_EQ(s.sim().replay_end_note(), "");
    for (int cycle = 0; cycle < 2; ++cycle) {
        line.Send({1});
        EXPECT_TRUE(line.Quiet()) << "cycle " << cycle;
    }
    EXPECT_EQ(s.sim().ecu().replay_row(), 2u);
    EXPECT_NE(s.sim().replay_end_note().find("end of the recording (3 rows, 1.100 s)"), std::string::npos);
    std::remove(path.c_str());
}

// What is not a recording is refused with its line and the reason; a last
// line cut short is left out.
TEST(Answers, ReplayRefusesWhatIsNotARecording) {
    const std::string header = kCatHeader;
    const std::string good = std::string(kCatRows).substr(0, std::string(kCatRows).find('\n') + 1);
    auto with = [&good](std::size_t field, const std::string& cell) {
        std::string row = good;
        std::size_t from = 0;
        for (std::size_t i = 0; i < field; ++i) from = row.find(',', from) + 1;
        return row.replace(from, row.find_first_of(",\n", from) - from, cell);
    };
    const struct {
        std::string text;
        const char* error;  // empty: accepted
    } kCases[] = {
        {"", "line 1: not a recording: the file is empty"},
        {"Time (s),Revs (rpm)\n", "line 1: not a recording: 2 columns where a recording has 25 (29 with"},
        {"Time (s);Revs (rpm)\n" + good, "line 1: not a recording: fields separated by ';'"},
        {header.substr(0, header.find("Mark")) + "Marker\n", "line 1: not a recording: column 28 is 'Marker'"},
        {header, "line 2: no complete row"},
        {header + good + "1.0,900", ""},
        {"\xEF\xBB\xBF" + header + good + "1.0,900", ""},
        {header.substr(0, header.size() - 1) + ",Unanswered (readings)\n" + good.substr(0, good.size() - 1) +
             ",65536\n",
         "line 2: '65536' in Unanswered (readings) is not a sum of reading bits"},
        {header + good + "\n", "line 3: an empty line"},
        {header + with(1, "900,5"), "line 2: 29 fields where the header has 28"},
        {header + with(1, "9OO\x1b[2J"), "line 2: '9OO?[2J' in Revs (rpm) is not a number"},
        {header + with(1, "nan"), "line 2: 'nan' in Revs (rpm) is not a number"},
        {header + with(5, "30.5"), "line 2: '30.5' in Air temp (C) is not a whole number"},
        {header + with(12, "2"), "line 2: '2' in Lambda closed (1/0) is not 1 or 0"},
        {header + with(13, "256"), "line 2: '256' in Uniram 1 is not a byte (0 to 255)"},
        {header + with(19, "8"), "line 2: '8' in Knock (status) is not a status code (0 to 7)"},
        {header + with(26, "21"), "line 2: '21' in Answered (of 20) is not a count of answers (0 to 20)"},
        {header + good + with(0, "-0.5"), "line 3: the time '-0.5' is before the start"},
        {header + with(0, "2.0") + good, "line 3: the time '0.000' goes back"},
        {header + std::string(2000, '1') + "\n", "line 2: longer than any row"},
    };
    for (const auto& c : kCases) {
        std::FILE* in = fmemopen(const_cast<char*>(c.text.data()), c.text.size(), "r");
        if (c.text.empty()) in = std::fopen("/dev/null", "r");
        ASSERT_NE(in, nullptr);
        ecusim::Recording recording;
        std::string error;
        const bool ok = ecusim::ReadRecording(in, &recording, &error);
        std::fclose(in);
        if (*c.error == '\0') {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(recording.rows.size(), 1u);
            EXPECT_EQ(recording.cut_short_line, 3u);
        } else {
            EXPECT_FALSE(ok) << c.text.substr(0, 80);
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got '" << error << "' for " << c.error;
        }
    }
}

}  // namespace

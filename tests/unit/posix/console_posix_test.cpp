// The VT console writer: the exact bytes that reach the terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "screen/console_writer.h"

namespace {

// Captures everything written to stdout while alive.
class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        EXPECT_EQ(pipe(fds_), 0);
        dup2(fds_[1], STDOUT_FILENO);
    }
    std::string Take() {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        close(fds_[1]);
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
        close(fds_[0]);
        return out;
    }

private:
    int saved_ = -1;
    int fds_[2] = {-1, -1};
};

TEST(ConsolePosix, PrintColourIsOneSequenceOfColourPositionAndText) {
    struct Case {
        std::uint16_t colour;
        std::int16_t x, y;
        const char* text;
        const char* bytes;
    };
    for (Case c : {
             Case{12, 0, 5, "Revs:\t\t0 rpm     ", "\x1b[91;40m\x1b[6;1HRevs:\t\t0 rpm     "},
             Case{10, 63, 18, "1.00 %", "\x1b[92;40m\x1b[19;64H1.00 %"},
             Case{9, 40, 15, "Camshaft sensor", "\x1b[94;40m\x1b[16;41HCamshaft sensor"},
             Case{11, 0, 23, "a%sb%n\nc", "\x1b[96;40m\x1b[24;1Ha%sb%n\nc"},
             Case{14, 16, 3, "\\", "\x1b[93;40m\x1b[4;17H\\"},
             Case{15, 0, 0, "", "\x1b[97;40m\x1b[1;1H"},
             Case{7, 1, 1, "x", "\x1b[37;40m\x1b[2;2Hx"},
             Case{0x1F, 2, 3, "y", "\x1b[97;44m\x1b[4;3Hy"},
         }) {
        StdoutCapture cap;
        PrintColour(nullptr, c.text, c.x, c.y, c.colour);
        EXPECT_EQ(cap.Take(), c.bytes);
    }
}

// Without colour: the alarm colour reversed, the warning colour underlined.
TEST(ConsolePosix, MonoStandInOfEachColour) {
    const std::pair<std::uint16_t, std::uint16_t> cases[] = {{12, 0x4007}, {14, 0x8007}, {9, 7}, {10, 7}, {11, 7}, {15, 7}};
    for (auto [colour, mono] : cases) EXPECT_EQ(console_mono_attribute(colour), mono) << colour;
}

TEST(ConsolePosix, TitleDropsControlCharactersAndClearHomes) {
    StdoutCapture cap;
    console_set_title("Tarnwick\x1b]evil\x07 ok");
    console_clear();
    EXPECT_EQ(cap.Take(), "\x1b]0;Tarnwick]evil ok\x07\x1b[2J\x1b[H");
}

}  // namespace

namespace {

TEST(ConsolePosix, LongTitleAndPiledUpEscapesAreWrittenWhole) {
    std::string title(300, 'T');
    StdoutCapture cap;
    console_set_title(title.c_str());
    for (int i = 0; i < 20; ++i) console_set_cursor(nullptr, static_cast<std::int16_t>(i), 1);
    console_set_attribute(nullptr, 12);
    console_write("x");
    std::string out = cap.Take();
    EXPECT_EQ(out.rfind("\x1b]0;" + std::string(250, 'T'), 0), 0u);
    EXPECT_NE(out.find("\x1b[2;20H\x1b[91;40mx"), std::string::npos);
}

}  // namespace

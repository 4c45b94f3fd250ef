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

#include "platform/console_grid.h"

namespace {

std::string GridRow(const ConsoleGrid& g, int row, int from, int len) {
    std::string s;
    for (int x = from; x < from + len; ++x) s += g.cells[row][x].ch;
    return s;
}

// Every cell starts as '.', so cells a text should overwrite and did not show.
TEST(ConsoleGrid, PlacesTextAsAWindowsConsoleBufferDoes) {
    struct Case {
        int x, y;
        const char* text;
        int row, from;
        const char* shown;
        int end_x, end_y, below;
    };
    for (Case c : {
             // Tabs are spaces to the next multiple of 8, whatever was there.
             Case{0, 5, "Revs:\t\t900 rpm", 5, 0, "Revs:           900 rpm.", 23, 5, 6},
             Case{4, 0, "\tx", 0, 0, "....    x.", 9, 0, 1},
             // "\n" goes to column 0 of the next row, not to the text's column.
             Case{3, 2, "ab\ncd", 3, 0, "cd..", 2, 3, 4},
             Case{7, 0, "ab\rc", 0, 0, "c......ab.", 1, 0, 1},
             // The right edge: the text goes on in the next row; a text that
             // fills the last column and breaks the line leaves a blank row.
             Case{115, 1, "abcdefgh", 2, 0, "fgh.", 3, 2, 3},
             Case{118, 1, "ab\n", 2, 0, "....", 0, 3, 3},
             // Below the buffer the text is lost; nothing ever scrolls.
             Case{0, kGridRows - 1, "x\ny\n", kGridRows - 1, 0, "x.", 0, kGridRows, kGridRows},
             // Control and 8-bit bytes are one '?' cell each: never a sequence.
             Case{0, 0, "a\x1b[1m\xc3\xa9", 0, 0, "a?[1m??.", 7, 0, 1},
         }) {
        ConsoleGrid g{};
        g.attribute = 15;
        grid_clear(g);
        for (auto& row : g.cells)
            for (GridCell& cell : row) cell.ch = '.';
        g.attribute = 12;
        grid_set_cursor(g, c.x, c.y);
        grid_write(g, c.text);
        const std::string shown(c.shown);
        EXPECT_EQ(GridRow(g, c.row, c.from, static_cast<int>(shown.size())), shown) << c.text;
        EXPECT_EQ(g.cursor_x, c.end_x) << c.text;
        EXPECT_EQ(g.cursor_y, c.end_y) << c.text;
        EXPECT_EQ(grid_row_below(g), c.below) << c.text;
    }
}

// Only cells that look different are changes: a blank is a blank in any colour.
TEST(ConsoleGrid, ReportsOnlyTheCellsThatChangedLook) {
    ConsoleGrid g{};
    g.attribute = 15;
    grid_clear(g);
    grid_set_cursor(g, 40, 5);
    grid_write(g, "900 rpm  ");
    int row = -1, first = -1, last = -1;
    ASSERT_TRUE(grid_take_changes(g, &row, &first, &last));
    EXPECT_EQ((std::vector<int>{row, first, last}), (std::vector<int>{5, 40, 46}));
    EXPECT_FALSE(grid_take_changes(g, &row, &first, &last));
    g.attribute = 10;
    grid_set_cursor(g, 40, 5);
    grid_write(g, "905 rpm  ");
    ASSERT_TRUE(grid_take_changes(g, &row, &first, &last));
    EXPECT_EQ((std::vector<int>{row, first, last}), (std::vector<int>{5, 40, 46}));
    grid_set_cursor(g, 40, 5);
    grid_write(g, "905 rpm  ");
    EXPECT_FALSE(grid_take_changes(g, &row, &first, &last));
    EXPECT_EQ(g.used_columns, 47);
    EXPECT_EQ(g.used_rows, 6);
}

}  // namespace

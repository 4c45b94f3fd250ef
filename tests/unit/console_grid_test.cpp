// The cell grid the POSIX console shows and the unit tests' console records
// into: text placed as a Windows console buffer places it.
#include <gtest/gtest.h>

#include <string>

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
             // The block characters are one cell each, holding their last byte;
             // a sequence cut short or beyond them is '?' cells.
             Case{0, 0, "\xe2\x96\x81\xe2\x96\x88\xe2\x96\x89\xe2\x96", 0, 0, "\x81\x88?????.", 7, 0, 1},
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

#include "platform/console_grid.h"

#include "platform/console.h"

namespace {

constexpr int kTabStop = 8;

void put_cell(ConsoleGrid& grid, char ch) {
    const int x = grid.cursor_x;
    const int y = grid.cursor_y;
    if (y < kGridRows) {
        const GridCell cell{ch, grid.attribute};
        if (!grid_cells_look_alike(grid.cells[y][x], cell)) {
            if (x < grid.changed_first[y]) grid.changed_first[y] = x;
            if (x > grid.changed_last[y]) grid.changed_last[y] = x;
        }
        grid.cells[y][x] = cell;
        if (ch != ' ') {
            if (x + 1 > grid.used_columns) grid.used_columns = x + 1;
            if (y + 1 > grid.used_rows) grid.used_rows = y + 1;
        }
    }
    // The last column is the edge: the cursor goes on to the next row at once.
    if (++grid.cursor_x == kGridColumns) {
        grid.cursor_x = 0;
        if (grid.cursor_y < kGridRows) ++grid.cursor_y;
    }
}

}  // namespace

bool grid_cells_look_alike(GridCell a, GridCell b) {
    if (a.ch != b.ch) return false;
    if (a.attribute == b.attribute) return true;
    constexpr std::uint16_t kBlankLook = 0xF0 | kAttributeReverse | kAttributeUnderline;
    return a.ch == ' ' && (a.attribute & kBlankLook) == (b.attribute & kBlankLook);
}

void grid_clear(ConsoleGrid& grid) {
    for (auto& row : grid.cells)
        for (GridCell& cell : row) cell = GridCell{' ', grid.attribute};
    grid.cursor_x = 0;
    grid.cursor_y = 0;
    grid.used_columns = 0;
    grid.used_rows = 0;
    grid_forget_changes(grid);
}

void grid_forget_changes(ConsoleGrid& grid) {
    for (int row = 0; row < kGridRows; ++row) {
        grid.changed_first[row] = kGridColumns;
        grid.changed_last[row] = -1;
    }
}

void grid_set_cursor(ConsoleGrid& grid, int x, int y) {
    grid.cursor_x = x < 0 ? 0 : (x >= kGridColumns ? kGridColumns - 1 : x);
    grid.cursor_y = y < 0 ? 0 : (y >= kGridRows ? kGridRows - 1 : y);
}

void grid_write(ConsoleGrid& grid, const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\n') {
            grid.cursor_x = 0;
            if (grid.cursor_y < kGridRows) ++grid.cursor_y;
        } else if (c == '\r') {
            grid.cursor_x = 0;
        } else if (c == '\t') {
            do {
                put_cell(grid, ' ');
            } while (grid.cursor_x % kTabStop != 0);
        } else if (c == 0xE2 && p[1] == '\x96' && grid_cell_is_block(GridCell{p[2], 0})) {
            put_cell(grid, p[2]);
            p += 2;
        } else {
            put_cell(grid, c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
        }
    }
}

bool grid_take_changes(ConsoleGrid& grid, int* row, int* first, int* last) {
    for (int y = 0; y < kGridRows; ++y) {
        if (grid.changed_first[y] > grid.changed_last[y]) continue;
        *row = y;
        *first = grid.changed_first[y];
        *last = grid.changed_last[y];
        grid.changed_first[y] = kGridColumns;
        grid.changed_last[y] = -1;
        return true;
    }
    return false;
}

int grid_row_below(const ConsoleGrid& grid) {
    const int cursor_row = grid.cursor_x == 0 ? grid.cursor_y : grid.cursor_y + 1;
    return cursor_row > grid.used_rows ? cursor_row : grid.used_rows;
}

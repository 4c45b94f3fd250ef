// A console screen buffer in memory: the grid of cells a Windows console
// keeps, with its rules for placing text. The screens are laid out for such a
// buffer; a POSIX terminal scrolls, wraps and forgets, so the POSIX console
// keeps one of these and shows the terminal the part of it that fits.
// Pure code: no terminal calls.
#pragma once
#include <cstdint>

// The width of a default Windows console buffer; rows enough for every
// screen of the program and the line breaks written below them.
constexpr int kGridColumns = 120;
constexpr int kGridRows = 40;

struct GridCell {
    char ch;
    std::uint16_t attribute;  // a console attribute, reverse and underline included
};

struct ConsoleGrid {
    GridCell cells[kGridRows][kGridColumns];
    // The cursor. cursor_y may reach kGridRows: below the buffer, where text
    // is lost rather than scrolling the buffer.
    int cursor_x;
    int cursor_y;
    std::uint16_t attribute;
    // Extent of the cells that are not blank: the size a window needs to
    // show everything written. Only grows until the next clear.
    int used_columns;
    int used_rows;
    // Per row, the columns whose look changed since grid_take_changes.
    // first > last when none did.
    int changed_first[kGridRows];
    int changed_last[kGridRows];
};

// A blank cell looks the same whatever its foreground colour, unless it is
// in reverse video or underlined.
bool grid_cells_look_alike(GridCell a, GridCell b);

// Every cell blank in the current attribute, cursor at the top-left, no
// change pending (the caller clears its screen the same way).
void grid_clear(ConsoleGrid& grid);

// Clamped to the buffer.
void grid_set_cursor(ConsoleGrid& grid, int x, int y);

// Places text at the cursor in the current attribute: "\n" to column 0 of the
// next row, "\r" to column 0, "\t" as spaces up to the next multiple of 8,
// a text reaching the right edge goes on at column 0 of the next row. Other
// control bytes and bytes above 0x7E show as '?': one byte is one cell,
// except for the block characters (grid_cell_is_block).
void grid_write(ConsoleGrid& grid, const char* text);

// The block characters U+2581 to U+2588 (lower one eighth to full block),
// written as UTF-8, take one cell each; the cell holds the last byte of the
// sequence (0x81 to 0x88).
constexpr bool grid_cell_is_block(GridCell cell) {
    return static_cast<unsigned char>(cell.ch) >= 0x81 && static_cast<unsigned char>(cell.ch) <= 0x88;
}

// Every change so far counts as shown.
void grid_forget_changes(ConsoleGrid& grid);

// Row by row, hands out the changed columns [first, last] and forgets them.
// Returns false when no row has changes left.
bool grid_take_changes(ConsoleGrid& grid, int* row, int* first, int* last);

// Where the cursor should end for the prompt to come below everything
// written: column 0 of the first row below both the text and the cursor.
int grid_row_below(const ConsoleGrid& grid);

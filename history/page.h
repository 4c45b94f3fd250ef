// The history page: the history drawn through PrintColour, on a screen of
// its own (the main loop picks the screen). Every value is written as the
// dashboard writes that reading, in the colour it gives it.
#pragma once
#include <cstdint>

#include "history/history.h"
#include "platform/console.h"

struct PageLook {
    int columns;            // the page's width, kPageMinColumns to kPageMaxColumns
    bool blocks;            // trend lines in UTF-8 block characters, else ASCII
    int since_seconds;      // clock time of day the count began, in seconds
    const char* notice;     // what the title says, where there is no title bar ("": nothing)
    std::uint16_t notice_colour;
};

// The page fits the dashboard's 80x25; a wider terminal gets longer trend
// lines, up to the console grid's 120 columns.
constexpr int kPageMinColumns = 80;
constexpr int kPageMaxColumns = 120;

// How many trend characters a page of `columns` holds.
int PageTrendWidth(int columns);

// Writes the whole page; unchanged cells cost the terminal nothing.
void DrawHistoryPage(ConsoleHandle console, const History& h, const PageLook& look);

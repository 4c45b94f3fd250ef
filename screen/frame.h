// The static parts of the dashboard: the cleared band, the quit hint, the
// sensor labels, the spinner glyphs and the footer.
#pragma once
#include "platform/console.h"

// Glyphs of the activity spinner, one per cycle, drawn right of the quit hint.
constexpr int kSpinnerGlyphCount = 4;
extern const char* const kSpinnerGlyphs[kSpinnerGlyphCount];
constexpr int kSpinnerColumn = 16;
constexpr int kSpinnerRow = 3;

// Two lines: where the program can be downloaded, and the disclaimer.
extern const char kFooter[];
constexpr int kFooterColumn = 0;
constexpr int kFooterRow = 23;

// Wipes the start-up messages below row 1 and draws the quit hint and the
// labels (with the catalyst labels in cat mode).
void DrawFrame(ConsoleHandle console, bool cat_mode);

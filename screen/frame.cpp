#include "screen/frame.h"

#include "screen/console_writer.h"

const char* const kSpinnerGlyphs[kSpinnerGlyphCount] = {"\\", "|", "/", "-"};

const char kFooter[] =
    "ALWAYS FREE DOWNLOAD from https://tarnwickdialer.example/download\n"
    "No responsibility can be taken for anything related to how you use them";

namespace {

struct Label {
    const char* text;
    short x, y;
    std::uint16_t colour;
};

const Label kAlwaysLabels[] = {
    {"Air temp sensor", 0, 13, kColourLabel},
    {"Knock (pinking)", 40, 13, kColourLabel},
    {"Water temp sensor", 0, 14, kColourLabel},
    {"MAP1 sensor", 0, 15, kColourLabel},
    {"Throttle posn sensor", 40, 14, kColourLabel},
};

const Label kCatLabels[] = {
    {"You specified... cat fitted", 0, 17, kColourNormal},
    {"Mixture ratio limit", 0, 18, kColourLabel},
    {"Lambda sensor", 0, 19, kColourLabel},
    {"Lambda correction integrator", 31, 18, kColourLabel},
    {"State of lambda strategy FLGSMA", 31, 19, kColourLabel},
};

// The spinner's glyph lands inside the trailing spaces of the hint.
const char kQuitHint[] = "Hit 'q' to quit                        ";

// Wide enough to wipe the start-up's port messages below row 1.
const char kBlankLine92[] =
    "                                                                                            \n";
const char kBlankLine48[] = "                                                \n";

}  // namespace

void DrawFrame(ConsoleHandle console, bool cat_mode) {
    // Plain output at the cursor, in whatever colour is in force.
    console_set_cursor(console, 0, 2);
    console_write(kBlankLine92);
    console_write(kBlankLine48);

    PrintColour(console, kQuitHint, 0, 3, kColourWarning);
    for (const Label& l : kAlwaysLabels) PrintColour(console, l.text, l.x, l.y, l.colour);
    if (cat_mode)
        for (const Label& l : kCatLabels) PrintColour(console, l.text, l.x, l.y, l.colour);
}

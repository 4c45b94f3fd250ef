// What the start-up screens hold, shared by every end-to-end test that runs
// the monitor (this folder's, and tests/windows' of the Windows build).
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/texts.h"
#include "harness.h"

namespace screens {

struct Line {
    int row;
    const char* text;  // the whole row, trailing blanks aside
    int colour;        // of its first character that is not a blank
};

inline void ExpectLines(const e2e::Session& s, const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        EXPECT_EQ(s.Row(line.row), line.text) << "row " << line.row << s.Dump();
        std::string row = s.Row(line.row);
        std::size_t first = row.find_first_not_of(' ');
        if (first != std::string::npos) {
            EXPECT_EQ(s.Colour(static_cast<int>(first), line.row), line.colour) << "row " << line.row;
        }
    }
}

// Row 2, the ports present, depends on the machine.
inline const std::vector<Line> kHelpScreen = {
    {1, kBanner, 15},
    {3, "", 0},
    {4, "THIS WILL NOT 'DOUBLE-CLICK' FROM WINDOWS, it is a DOS program!", 12},
    {5, "Open a COMMAND window.", 12},
    {6, "", 0},
    {7, "If you ran it from a COMMAND window...", 11},
    {8, "Check 'Device Manager' and look in 'Ports (COM & LPT)'.", 15},
    {9, "", 0},
    {10, "Your command should look like...", 15},
    {11, "        <program name> <port number> <c> for cat omit <c> for non-cat", 15},
    {12, "", 0},
    {13, " eg    Tarnwickdialer 5 c       cat program on COMport 5", 15},
    {14, "       Tarnwickdialer 5     non-cat program on COMport 5", 15},
    {15, "", 0},
    {16, "If you ran it from a COMMAND window with the correct Comport number,", 11},
    {17, " type dir and enter. Tarnwickdialer.exe should show in the list.", 11},
    {18, " if it doesn't show, move it there with WIndows explorer", 11},
    {19, "", 0},
    {20, "If you open the correct port but it is not talking to the ECU,", 15},
    {21, " then incorrect values will appear on the screen", 15},
    {22, " slowly and the battery volts will be zero.", 15},
    {23, "Press a key to continue.", 11},
};

// Rows 3 onwards of the failure screen; rows 0 to 2 are the opening's.
inline const std::vector<Line> kFailureScreen = {
    {3, "Unable to open serial port, check you have the correct port! Quitting.", 15},
    {4, "", 0},
    {5, "Check 'Device Manager' and look in 'Ports (COM & LPT)'.", 15},
    {6, "", 0},
    {7, "Your command should look like...", 15},
    {8, "", 0},
    {9, "        <program name> <port number> <c> for cat omit <c> for non-cat", 15},
    {10, "", 0},
    {11, " eg    Tarnwickdialer 5 c       cat program on port 5", 15},
    {12, "       Tarnwickdialer 5     non-cat program on port 5", 15},
    {13, "", 0},
    {14, "If you ran it from a COMMAND window with the correct Comport number,", 11},
    {15, " type dir and enter. Tarnwickdialer.exe should show in the list.", 11},
    {16, " if it doesn't show, move it there with Windows explorer and try again.", 11},
    {17, "", 0},
    {18, "If you open the correct port but it is not talking to the ECU,", 15},
    {19, " then incorrect values will appear on the screen", 15},
    {20, " slowly and the battery volts will be zero.", 15},
};

inline const std::string kCatOpening = std::string("For support & premium version, PayPal donations to ") + kContactAddress;
inline const std::string kPlainOpening = std::string("PayPal donations appreciated to ") + kContactAddress;

}  // namespace screens

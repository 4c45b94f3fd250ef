// Checking the dashboard of a running monitor against the expected screens
// (tests/shared): for every end-to-end test that runs the monitor, this
// folder's and those of the Windows build.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "dashboard_screens_data.h"

namespace screens {

inline std::vector<std::string> SetAll(const std::vector<std::pair<int, int>>& registers) {
    std::vector<std::string> opts = {"--scenario", "off"};
    for (auto [address, value] : registers) {
        opts.push_back("--set");
        opts.push_back(std::to_string(address) + "=" + std::to_string(value));
    }
    return opts;
}

// Rows 2 to 29 hold exactly the places,
// apart from the spinner's cell; every written character has its colour.
inline void ExpectScreen(const e2e::Session& s, const std::vector<Place>& places) {
    const Grid want = Layout(places, e2e::kRows, e2e::kColumns);
    const auto& chars = want.chars;
    const auto& colours = want.colours;
    for (int y = 2; y < e2e::kRows; ++y) {
        std::string got = s.Text(0, y, e2e::kColumns);
        if (y == 3) got[16] = ' ';
        EXPECT_EQ(Masked(got, chars[y]), chars[y]) << "row " << y << "\n" << s.Dump();
        for (int x = 0; x < e2e::kColumns; ++x)
            if (colours[y][x] >= 0 && chars[y][x] != ' ') {
                EXPECT_EQ(s.Colour(x, y), colours[y][x]) << "at " << x << "," << y;
            }
    }
}

}  // namespace screens

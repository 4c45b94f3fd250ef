#include "history/page.h"

#include <cstdio>
#include <cstring>

#include "decode/conversions.h"
#include "decode/faults.h"
#include "screen/console_writer.h"

namespace {

// Columns of the readings' table: label, Now, Min and when, Max and when,
// then the trend to the page's edge.
constexpr int kLabelWidth = 11;
constexpr int kValueWidth = 8;
constexpr int kTimeWidth = 9;
constexpr int kNowColumn = kLabelWidth;
constexpr int kMinColumn = kNowColumn + kValueWidth;
constexpr int kMinAtColumn = kMinColumn + kValueWidth;
constexpr int kMaxColumn = kMinAtColumn + kTimeWidth;
constexpr int kMaxAtColumn = kMaxColumn + kValueWidth;
constexpr int kTrendColumn = kMaxAtColumn + kTimeWidth + 1;

constexpr int kHeaderRow = 2;
constexpr int kFirstReadingRow = 3;
constexpr int kFaultHeaderRow = 15;
constexpr int kFirstFaultRow = 16;
constexpr int kFaultRows = 7;
constexpr int kLinkRow = 23;

// Columns of the fault memory.
constexpr int kFaultTextColumn = 21;
constexpr int kTimesColumn = 35;
constexpr int kTimesWidth = 6;
constexpr int kFirstColumn = kTimesColumn + kTimesWidth + 1;
constexpr int kLastColumn = kFirstColumn + kTimeWidth;

// The labels as the dashboard writes them.
const char* const kReadingLabels[kHistoryReadings] = {
    "Revs", "Injectors", "Advance", "MAP1,02/03", "Air temp", "Water temp",
    "Throttle", "Battery", "Inj. angle", "VAE", "Lambda",
};
const char* const kSensorLabels[kHistorySensors] = {
    "Air temp sensor", "Knock (pinking)", "Water temp sensor", "MAP1 sensor", "Throttle posn sensor",
    "Camshaft sensor", "Crankshaft sensor", "Mixture ratio limit", "Lambda sensor",
};
// By StatusCode, as the dashboard writes them.
const char* const kFaultTexts[kFaultStatuses] = {
    "Short circuit", "Open circuit", "Pinking", "Faulty", "Max lean", "Max rich",
};

const char kAsciiLevels[] = "_.-~=+*#";

void Put(ConsoleHandle console, const char* text, int x, int y, std::uint16_t colour) {
    PrintColour(console, text, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), colour);
}

// Blanks in a colour of their own: without colour, an alarm's or a
// warning's padding would show as reverse video or underline.
void PutBlanks(ConsoleHandle console, int count, int x, int y) {
    char blanks[kPageMaxColumns + 1];
    if (count <= 0) return;
    if (count > kPageMaxColumns) count = kPageMaxColumns;
    for (int i = 0; i < count; ++i) blanks[i] = ' ';
    blanks[count] = '\0';
    Put(console, blanks, x, y, kColourText);
}

// Text left-aligned in `width` cells.
void PutField(ConsoleHandle console, const char* text, int width, int x, int y, std::uint16_t colour) {
    char field[kPageMaxColumns + 1];
    std::snprintf(field, sizeof field, "%.*s", width, text);
    const int len = static_cast<int>(std::strlen(field));
    if (len > 0) Put(console, field, x, y, colour);
    PutBlanks(console, width - len, x + len, y);
}

// Text right-aligned in `width` cells.
void PutRight(ConsoleHandle console, const char* text, int width, int x, int y, std::uint16_t colour) {
    char field[32];
    std::snprintf(field, sizeof field, "%.*s", width, text);
    const int len = static_cast<int>(std::strlen(field));
    PutBlanks(console, width - len, x, y);
    Put(console, field, x + width - len, y, colour);
}

// hh:mm:ss of a moment on the cycle clock.
void ClockText(char* out, std::size_t size, const History& h, const PageLook& look, std::uint64_t at_ms) {
    const std::uint64_t since = at_ms > h.since_ms ? (at_ms - h.since_ms) / 1000 : 0;
    const unsigned s = static_cast<unsigned>((static_cast<std::uint64_t>(look.since_seconds) + since) % 86400);
    std::snprintf(out, size, "%02u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
}

void PutValue(ConsoleHandle console, int reading, bool shown, float value, int x, int y) {
    char number[24] = "--";
    std::uint16_t colour = kColourWarning;
    if (shown) {
        ReadingNumber(static_cast<CycleReading>(reading), value, number, sizeof number);
        colour = ReadingColour(static_cast<CycleReading>(reading), value);
    }
    PutRight(console, number, kValueWidth - 1, x, y, colour);
}

void PutTime(ConsoleHandle console, const History& h, const PageLook& look, bool shown, std::uint64_t at,
             int x, int y) {
    char text[16] = "";
    if (shown) ClockText(text, sizeof text, h, look, at);
    char field[16];
    std::snprintf(field, sizeof field, " %-8.8s", text);
    Put(console, field, x, y, kColourGuide);
}

void PutTrend(ConsoleHandle console, const History& h, const PageLook& look, int reading, int y) {
    const int width = PageTrendWidth(look.columns);
    std::uint8_t levels[kTrendSlices];
    HistoryTrend(h, reading, width, levels);
    char line[kTrendSlices * 3 + 1];
    int n = 0;
    for (int k = 0; k < width; ++k) {
        const int level = levels[k];
        if (level == 0) {
            line[n++] = ' ';
        } else if (look.blocks) {  // U+2581 to U+2588
            line[n++] = '\xE2';
            line[n++] = '\x96';
            line[n++] = static_cast<char>(0x80 + level);
        } else {
            line[n++] = kAsciiLevels[level - 1];
        }
    }
    line[n] = '\0';
    Put(console, line, kTrendColumn, y, kColourNormal);
}

void DrawReadings(ConsoleHandle console, const History& h, const PageLook& look) {
    PutField(console, "", kLabelWidth, 0, kHeaderRow, kColourGuide);
    PutRight(console, "Now", kValueWidth - 1, kNowColumn, kHeaderRow, kColourGuide);
    PutRight(console, "Min", kValueWidth - 1, kMinColumn, kHeaderRow, kColourGuide);
    PutRight(console, "Max", kValueWidth - 1, kMaxColumn, kHeaderRow, kColourGuide);
    const int width = PageTrendWidth(look.columns);
    const unsigned window_s = static_cast<unsigned>(width) * (kTrendSliceMs / 1000);
    char trend[64];
    std::snprintf(trend, sizeof trend, "Last %u:%02u, %u s each", window_s / 60, window_s % 60,
                  static_cast<unsigned>(kTrendSliceMs / 1000));
    PutField(console, trend, width, kTrendColumn, kHeaderRow, kColourGuide);

    const int readings = h.cat_mode ? kHistoryReadings : kReadLambdaIntegrator;
    for (int i = 0; i < readings; ++i) {
        const ReadingMemory& m = h.readings[i];
        const int y = kFirstReadingRow + i;
        PutField(console, kReadingLabels[i], kLabelWidth, 0, y, kColourText);
        PutValue(console, i, m.answered_now, m.now, kNowColumn, y);
        PutValue(console, i, m.seen, m.low.value, kMinColumn, y);
        PutTime(console, h, look, m.seen, m.low.at_ms, kMinAtColumn, y);
        PutValue(console, i, m.seen, m.high.value, kMaxColumn, y);
        PutTime(console, h, look, m.seen, m.high.at_ms, kMaxAtColumn, y);
        PutTrend(console, h, look, i, y);
    }
}

void DrawFaults(ConsoleHandle console, const History& h, const PageLook& look) {
    PutField(console, "Fault memory", kTimesColumn, 0, kFaultHeaderRow, kColourText);
    PutRight(console, "Times", kTimesWidth, kTimesColumn, kFaultHeaderRow, kColourGuide);
    PutField(console, " First", kTimeWidth, kFirstColumn - 1, kFaultHeaderRow, kColourGuide);
    PutField(console, " Last", kTimeWidth, kLastColumn - 1, kFaultHeaderRow, kColourGuide);

    int total = 0;
    for (const auto& sensor : h.faults)
        for (const FaultMemory& f : sensor) total += f.cycles > 0 ? 1 : 0;
    if (total == 0) {
        char since[16];
        ClockText(since, sizeof since, h, look, h.since_ms);
        char text[64];
        std::snprintf(text, sizeof text, "No sensor fault seen since %s", since);
        PutField(console, text, look.columns, 0, kFirstFaultRow, kColourNormal);
        return;
    }
    const int shown = total > kFaultRows ? kFaultRows - 1 : total;
    int y = kFirstFaultRow;
    for (int s = 0; s < kHistorySensors && y < kFirstFaultRow + shown; ++s) {
        for (int code = 1; code <= kFaultStatuses && y < kFirstFaultRow + shown; ++code) {
            const FaultMemory& f = h.faults[s][code - 1];
            if (f.cycles == 0) continue;
            const bool present = h.status_known[s] && h.status_now[s] == code;
            PutField(console, kSensorLabels[s], kFaultTextColumn, 0, y, kColourLabel);
            PutField(console, kFaultTexts[code - 1], kTimesColumn - kFaultTextColumn, kFaultTextColumn, y,
                     present ? kColourAlarm : kColourWarning);
            char times[16];
            std::snprintf(times, sizeof times, "%u", static_cast<unsigned>(f.appearances));
            PutRight(console, times, kTimesWidth, kTimesColumn, y, kColourText);
            PutTime(console, h, look, true, f.first_ms, kFirstColumn - 1, y);
            PutTime(console, h, look, true, f.last_ms, kLastColumn - 1, y);
            ++y;
        }
    }
    if (total > shown) {
        char more[48];
        std::snprintf(more, sizeof more, "... and %d more", total - shown);
        PutField(console, more, look.columns, 0, y, kColourWarning);
    }
}

}  // namespace

int PageTrendWidth(int columns) {
    const int width = columns - kTrendColumn;
    return width < 1 ? 1 : (width > kTrendSlices ? kTrendSlices : width);
}

void DrawHistoryPage(ConsoleHandle console, const History& h, const PageLook& look) {
    char since[16];
    ClockText(since, sizeof since, h, look, h.since_ms);
    char line[160];
    std::snprintf(line, sizeof line, "History since %s, %u cycles.  h dashboard  r reset  b tone  q quit",
                  since, static_cast<unsigned>(h.cycles));
    PutField(console, line, look.columns, 0, 0, kColourText);
    PutField(console, look.notice, look.columns, 0, 1, look.notice_colour);

    DrawReadings(console, h, look);
    DrawFaults(console, h, look);

    const bool clean = h.link_partly == 0 && h.link_none == 0 && h.port_losses == 0;
    std::snprintf(line, sizeof line, "Link: %u cycles answered, %u partly, %u not at all; port lost %u times",
                  static_cast<unsigned>(h.link_whole), static_cast<unsigned>(h.link_partly),
                  static_cast<unsigned>(h.link_none), static_cast<unsigned>(h.port_losses));
    PutField(console, line, look.columns, 0, kLinkRow, clean ? kColourNormal : kColourWarning);
}

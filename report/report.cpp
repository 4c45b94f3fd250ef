#include "report/report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "app/port_messages.h"
#include "decode/conversions.h"
#include "decode/faults.h"
#include "decode/passes.h"
#include "platform/file.h"
#include "record/format.h"
#include "record/reading.h"
#include "screen/colours.h"

// Made at build time from report/page.html and third_party/uplot.
extern const char report_page[];
extern const char uplot_js[];
extern const char uplot_css[];
extern const char uplot_licence[];

namespace {

// Faults and marks kept for the lists and the lanes; more are counted.
constexpr int kMaxFaults = 200;
constexpr int kMaxMarks = 200;
constexpr std::size_t kPathSize = 512;

// The readings of the summary and the page's data, in the dashboard's
// order; each written and coloured by the dashboard's own function.
struct ReadingInfo {
    RecordingColumn column;
    CycleReading reading;
    const char* name;  // null: the label of the dashboard's text
    const char* key;   // the page script's name for it
    int decimals;      // in the page's data: as many as the recording has
    const ColourBands* bands;
};

const ReadingInfo kReadings[] = {
    {kColRevs, kReadRevs, nullptr, "revs", 3, &kRevsBands},
    {kColInjectors, kReadInjectors, nullptr, "inj", 3, nullptr},
    {kColAdvance, kReadAdvance, nullptr, "adv", 2, nullptr},
    {kColManifold, kReadManifold, nullptr, "map", 4, nullptr},
    {kColAir, kReadAir, nullptr, "air", 0, nullptr},
    {kColWater, kReadWater, nullptr, "water", 0, &kWaterBands},
    {kColThrottle, kReadThrottle, nullptr, "thr", 4, nullptr},
    {kColBattery, kReadBattery, nullptr, "bat", 4, &kBatteryBands},
    {kColInjectionAngle, kReadInjectionAngle, nullptr, "ia", 1, nullptr},
    {kColVae, kReadVae, nullptr, "vae", 4, nullptr},
    {kColLambdaIntegrator, kReadLambdaIntegrator, "Lambda correction integrator",
     "lam", 6, nullptr},
    {kColLambdaClosed, kReadLambdaState, "State of lambda strategy FLGSMA", "closed", 0,
     nullptr},
};
constexpr int kReadingCount = sizeof kReadings / sizeof kReadings[0];

// A recorded value for the dashboard's functions, which take a 32-bit value
// and write "%d" of it: a hand-edited file may hold numbers no ECU gives.
float ForReading(double value) { return static_cast<float>(std::clamp(value, -1e9, 1e9)); }

bool IsCatOnly(const ReadingInfo& r) { return r.column == kColLambdaIntegrator || r.column == kColLambdaClosed; }

// The sensors, labelled as the dashboard's frame labels them.
struct SensorInfo {
    const char* label;
    bool cat_only;
    SensorStatus FaultReport::*status;
};

const SensorInfo kSensors[] = {
    {"Mixture ratio limit", true, &FaultReport::mixture},
    {"Air temp sensor", false, &FaultReport::air},
    {"Knock (pinking)", false, &FaultReport::knock},
    {"Water temp sensor", false, &FaultReport::water},
    {"Lambda sensor", true, &FaultReport::lambda},
    {"MAP1 sensor", false, &FaultReport::map},
    {"Throttle posn sensor", false, &FaultReport::throttle},
    {"Camshaft sensor", false, &FaultReport::camshaft},
    {"Crankshaft sensor", false, &FaultReport::crankshaft},
};
constexpr int kSensorCount = sizeof kSensors / sizeof kSensors[0];

// What the statuses of a row are decoded from.
constexpr std::uint16_t kFaultReadings = ReadingBit(kReadRevs) | ReadingBit(kReadUniram1) |
                                         ReadingBit(kReadUniram2) | ReadingBit(kReadUniram3);

bool Shown(const RecordingLayout& layout, bool cat_only) { return layout.cat_mode || !cat_only; }

// Whether the readings of `bits` were answered in the row. A recording
// without the column of unanswered readings only says how many answers the
// cycle got: one short of its total, and nothing of the row counts.
bool Answered(const RecordingLayout& layout, const RecordedRow& row, std::uint16_t bits) {
    if (layout.has_unanswered) return (static_cast<unsigned>(row.value[kColUnanswered]) & bits) == 0;
    return row.value[kColAnswered] >= RecordingRequests(layout);
}

// ---- the first pass: figures, faults, marks ----

struct Stats {
    double min, max, sum;
    std::size_t count;
    double yellow_s, red_s;
};

struct FaultSpan {
    int sensor;
    const char* text;  // as the dashboard writes it, padded
    double from, to;
};

struct MarkAt {
    unsigned number;
    double time;
};

struct Tally {
    std::size_t rows, whole;
    double first, last, step;  // step: the last row's period
    RecordedRow previous;
    Stats stats[kReadingCount];
    const char* open_text[kSensorCount];  // the status now, null: OK
    double open_from[kSensorCount];
    FaultSpan faults[kMaxFaults];
    int fault_count;
    std::size_t faults_more;
    MarkAt marks[kMaxMarks];
    int mark_count;
    std::size_t marks_more;
};

// The time the previous row's readings held, in their bands.
void CountBands(Tally& t, const RecordingLayout& layout, const RecordedRow& row, double seconds) {
    for (int i = 0; i < kReadingCount; ++i) {
        const ReadingInfo& r = kReadings[i];
        if (!Shown(layout, IsCatOnly(r)) || !Answered(layout, row, ReadingBit(r.reading))) continue;
        const std::uint16_t colour = ReadingOf(r.reading, ForReading(row.value[r.column])).colour;
        if (colour == kColourWarning) t.stats[i].yellow_s += seconds;
        if (colour == kColourAlarm) t.stats[i].red_s += seconds;
    }
}

void CloseFault(Tally& t, int sensor, double at) {
    if (t.open_text[sensor] == nullptr) return;
    if (t.fault_count < kMaxFaults)
        t.faults[t.fault_count++] = {sensor, t.open_text[sensor], t.open_from[sensor], at};
    else
        ++t.faults_more;
    t.open_text[sensor] = nullptr;
}

bool TallyRow(void* context, const RecordingLayout& layout, const RecordedRow& row, char*, std::size_t) {
    Tally& t = *static_cast<Tally*>(context);
    const double time = row.value[kColTime];
    if (t.rows == 0) t.first = time;
    else {
        t.step = time - t.last;
        CountBands(t, layout, t.previous, t.step);
    }
    t.last = time;
    ++t.rows;
    if (row.value[kColAnswered] >= RecordingRequests(layout)) ++t.whole;
    for (int i = 0; i < kReadingCount; ++i) {
        const ReadingInfo& r = kReadings[i];
        if (!Shown(layout, IsCatOnly(r)) || !Answered(layout, row, ReadingBit(r.reading))) continue;
        Stats& s = t.stats[i];
        const double v = row.value[r.column];
        if (s.count == 0 || v < s.min) s.min = v;
        if (s.count == 0 || v > s.max) s.max = v;
        s.sum += v;
        ++s.count;
    }
    if (Answered(layout, row, kFaultReadings)) {
        const FaultReport report = DecodeFaults(
            static_cast<std::uint8_t>(row.value[kColUniram1]), static_cast<std::uint8_t>(row.value[kColUniram2]),
            static_cast<std::uint8_t>(row.value[kColUniram3]), static_cast<std::uint8_t>(row.value[kColUniramS]),
            layout.cat_mode, EngineRunning(ReadingOf(kReadRevs, ForReading(row.value[kColRevs]))));
        for (int s = 0; s < kSensorCount; ++s) {
            if (!Shown(layout, kSensors[s].cat_only)) continue;
            const SensorStatus& status = report.*kSensors[s].status;
            const bool fault = status.code != kStatusOk && status.code != kStatusNotValidRunning;
            const char* text = fault ? status.text : nullptr;
            if (text == t.open_text[s]) continue;
            CloseFault(t, s, time);
            t.open_text[s] = text;
            t.open_from[s] = time;
        }
    }
    if (row.value[kColMark] > 0) {
        if (t.mark_count < kMaxMarks)
            t.marks[t.mark_count++] = {static_cast<unsigned>(row.value[kColMark]), time};
        else
            ++t.marks_more;
    }
    t.previous = row;
    return true;
}

void FinishTally(Tally& t, const RecordingLayout& layout) {
    CountBands(t, layout, t.previous, t.step);
    for (int s = 0; s < kSensorCount; ++s) CloseFault(t, s, t.last + t.step);
}

// ---- reading the file ----

long ReadSome(void* context, char* buffer, std::size_t size, char* why, std::size_t why_size) {
    FileFailure failure{};
    const long got = file_read(context, buffer, size, &failure);
    if (got < 0) {
        char text[64];
        FileFailureText(text, sizeof text, failure);
        std::snprintf(why, why_size, "cannot read: %s", text);
    }
    return got;
}

// ---- writing the page ----

struct Page {
    FileHandle file;
    bool failed;
    FileFailure why;
    std::size_t used;
    std::size_t written;
    char buffer[1 << 16];
};

Page page;

void Flush() {
    if (!page.failed && page.used > 0 && !file_write_all(page.file, page.buffer, page.used, &page.why))
        page.failed = true;
    page.written += page.used;
    page.used = 0;
}

void Put(const char* text, std::size_t length) {
    while (length > 0) {
        if (page.used == sizeof page.buffer) Flush();
        std::size_t n = sizeof page.buffer - page.used;
        if (n > length) n = length;
        std::memcpy(page.buffer + page.used, text, n);
        page.used += n;
        text += n;
        length -= n;
    }
}

void Put(const char* text) { Put(text, std::strlen(text)); }

template <typename... Args>
void Putf(const char* format, Args... args) {
    char text[256];
    const int n = std::snprintf(text, sizeof text, format, args...);
    if (n > 0) Put(text, static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n) : sizeof text - 1);
}

// Text into HTML: markup characters escaped, control characters as '?'.
void PutEscaped(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '&': Put("&amp;"); break;
            case '<': Put("&lt;"); break;
            case '>': Put("&gt;"); break;
            case '"': Put("&quot;"); break;
            case '\'': Put("&#39;"); break;
            default:
                if (c < ' ' && c != '\n') Put("?", 1);
                else Put(text + i, 1);
        }
    }
}

void PutEscaped(const char* text) { PutEscaped(text, std::strlen(text)); }

// A padded dashboard text without its padding.
void PutTrimmed(const char* text) {
    std::size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') --n;
    PutEscaped(text, n);
}

// Seconds as m:ss.s, or h:mm:ss from an hour on.
void TimeText(char* out, std::size_t size, double seconds) {
    seconds = std::clamp(seconds, 0.0, 1e12);
    if (seconds < 3600) {
        const long tenths = std::lround(seconds * 10);
        std::snprintf(out, size, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    } else {
        const long whole = std::lround(seconds);
        std::snprintf(out, size, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    }
}

void PutTime(double seconds) {
    char text[32];
    TimeText(text, sizeof text, seconds);
    Put(text);
}

// A number for the script: fixed decimals, trailing zeros dropped.
void PutNumber(double value, int decimals) {
    char text[400];  // the longest double in %f
    int n = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof text) return;
    if (decimals > 0) {
        while (text[n - 1] == '0') --n;
        if (text[n - 1] == '.') --n;
    }
    if (n == 2 && text[0] == '-' && text[1] == '0') {  // -0
        text[0] = '0';
        n = 1;
    }
    Put(text, static_cast<std::size_t>(n));
}

// The parts of a dashboard text: its label (before ":"), its value and its
// unit (after the last tab, the unit after the value's first space).
struct TextParts {
    char label[48], number[48], unit[24];
};

TextParts PartsOf(const Reading& r) {
    TextParts p{};
    const char* tab = std::strrchr(r.text, '\t');
    const char* value = tab != nullptr ? tab + 1 : r.text;
    const char* colon = std::strchr(r.text, ':');
    if (colon != nullptr && colon < value)
        std::snprintf(p.label, sizeof p.label, "%.*s", static_cast<int>(colon - r.text), r.text);
    std::size_t n = std::strlen(value);
    while (n > 0 && value[n - 1] == ' ') --n;
    const char* space = static_cast<const char*>(std::memchr(value, ' ', n));
    // A text without a number ("closed loop") is all value.
    const bool numeric = value[0] == '-' || (value[0] >= '0' && value[0] <= '9');
    if (space != nullptr && numeric) {
        std::snprintf(p.number, sizeof p.number, "%.*s", static_cast<int>(space - value), value);
        std::snprintf(p.unit, sizeof p.unit, "%.*s", static_cast<int>(value + n - space - 1), space + 1);
    } else {
        std::snprintf(p.number, sizeof p.number, "%.*s", static_cast<int>(n), value);
    }
    return p;
}

// Decimals of a reading's text: how the page's script writes it (0: the
// value truncated, as the dashboard's "%d").
int DecimalsOf(const ReadingInfo& r) {
    const TextParts p = PartsOf(ReadingOf(r.reading, 1.5f));
    const char* point = std::strchr(p.number, '.');
    return point != nullptr ? static_cast<int>(std::strlen(point + 1)) : 0;
}

void PutValueCell(const ReadingInfo& r, double value) {
    const Reading shown = ReadingOf(r.reading, ForReading(value));
    Putf("<td class=\"v c%u\">", static_cast<unsigned>(shown.colour));
    PutEscaped(PartsOf(shown).number);
    Put("</td>");
}

void PutBandTime(double seconds, double total, bool any) {
    if (!any) {
        Put("<td>&mdash;</td>");
        return;
    }
    Put("<td>");
    PutTime(seconds);
    if (total > 0) Putf(" (%.1f&nbsp;%%)", 100.0 * seconds / total);
    Put("</td>");
}

struct Report {
    const char* name;  // the recording's file name, without its folder
    RecordingOutcome outcome;
    Tally tally;
};

Report report;

// "tarnwickdialer-2026-12-09_14.03.27.csv", as a recording made in a
// folder is named: when it was started.
bool StartOf(const char* name, char* out, std::size_t size) {
    int y, mo, d, h, mi, s, end = 0;
    if (std::sscanf(name, "tarnwickdialer-%4d-%2d-%2d_%2d.%2d.%2d.csv%n", &y, &mo, &d, &h, &mi, &s, &end) != 6 ||
        end == 0 || name[end] != '\0')
        return false;
    std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return true;
}

double Length(const Tally& t) { return t.last - t.first + t.step; }

void PutHeading(const RecordingLayout& layout) {
    const Tally& t = report.tally;
    Put("<header><h1>");
    PutEscaped(report.name);
    Put("</h1><p class=\"meta\" id=\"meta\">");
    char started[32];
    if (StartOf(report.name, started, sizeof started)) Putf("Recorded %s &middot; ", started);
    Put("<span id=\"length\">");
    PutTime(Length(t));
    Putf("</span> long &middot; <span id=\"cycles\">%zu</span> cycles &middot; %s &middot; ", t.rows,
         layout.cat_mode ? "cat mode (lambda readings)" : "not cat mode (no lambda readings)");
    Putf("<span id=\"whole\">%.1f&nbsp;%%</span> of cycles wholly answered", 100.0 * static_cast<double>(t.whole) / static_cast<double>(t.rows));
    if (!layout.has_unanswered) Put(" (an older recording: a cycle not wholly answered is left out whole)");
    Put("</p>");
    if (report.outcome.cut_short_line != 0)
        Putf("<p class=\"note\">The last line (%zu) was cut short, as a recorder stopped while writing leaves "
             "it, and is left out.</p>",
             report.outcome.cut_short_line);
    Put("</header>\n");
}

void PutSummary(const RecordingLayout& layout) {
    const Tally& t = report.tally;
    const double total = Length(t);
    Put("<section id=\"summary\"><h2>Summary</h2><p class=\"hint\">Of the answered readings; values written "
        "and coloured as the dashboard shows them (yellow: doubtful, underlined; red: alarming, in a dark "
        "box).</p><div class=\"scroll\"><table><thead><tr><th>Reading</th><th>Unit</th><th>Min</th>"
        "<th>Max</th><th>Mean</th><th>In yellow</th><th>In red</th></tr></thead><tbody>\n");
    for (int i = 0; i < kReadingCount; ++i) {
        const ReadingInfo& r = kReadings[i];
        if (!Shown(layout, IsCatOnly(r))) continue;
        const Stats& s = t.stats[i];
        const TextParts parts = PartsOf(ReadingOf(r.reading, 0.0f));
        Putf("<tr data-key=\"%s\"><th>", r.key);
        PutEscaped(r.name != nullptr ? r.name : parts.label);
        Put("</th><td>");
        PutEscaped(parts.unit);
        Put("</td>");
        if (s.count == 0) {
            Put("<td colspan=\"5\">never answered</td></tr>\n");
            continue;
        }
        PutValueCell(r, s.min);
        PutValueCell(r, s.max);
        if (r.column == kColLambdaClosed) Put("<td>&mdash;</td>");
        else PutValueCell(r, s.sum / static_cast<double>(s.count));
        // A band the reading has: its time, also when none was spent there.
        const bool yellow = r.bands != nullptr || r.column == kColLambdaClosed;
        const bool red = r.bands != nullptr || r.column == kColInjectors;
        PutBandTime(s.yellow_s, total, yellow || s.yellow_s > 0);
        PutBandTime(s.red_s, total, red || s.red_s > 0);
        Put("</tr>\n");
    }
    Put("</tbody></table></div></section>\n");
}

void PutFaults(const RecordingLayout& layout) {
    const Tally& t = report.tally;
    const double total = Length(t) > 0 ? Length(t) : 1;
    Put("<section id=\"faults\"><h2>Sensor faults</h2>\n");
    if (t.fault_count == 0) {
        Put("<p id=\"no-faults\">No sensor reported a fault in this recording.</p></section>\n");
        return;
    }
    Put("<div class=\"lanes\">\n");
    for (int s = 0; s < kSensorCount; ++s) {
        if (!Shown(layout, kSensors[s].cat_only)) continue;
        Putf("<div class=\"lane\"><div class=\"lname\">%s</div><div class=\"track\">", kSensors[s].label);
        for (int f = 0; f < t.fault_count; ++f) {
            const FaultSpan& span = t.faults[f];
            if (span.sensor != s) continue;
            const double left = 100.0 * (span.from - t.first) / total;
            double width = 100.0 * (span.to - span.from) / total;
            if (width < 0.4) width = 0.4;
            Putf("<span class=\"fault\" style=\"left:%.2f%%;width:%.2f%%\" title=\"", left, width);
            PutTrimmed(span.text);
            Put(" ");
            PutTime(span.from);
            Put("&ndash;");
            PutTime(span.to);
            Put("\">");
            PutTrimmed(span.text);
            Put("</span>");
        }
        Put("</div></div>\n");
    }
    Put("</div>\n<ol class=\"faultlist\" id=\"fault-list\">\n");
    for (int f = 0; f < t.fault_count; ++f) {
        const FaultSpan& span = t.faults[f];
        Putf("<li><b>%s</b>: <span class=\"status\">", kSensors[span.sensor].label);
        PutTrimmed(span.text);
        Put("</span>, from ");
        PutTime(span.from);
        Put(" to ");
        PutTime(span.to);
        Put("</li>\n");
    }
    Put("</ol>\n");
    if (t.faults_more > 0)
        Putf("<p class=\"note\">The first %d faults are listed; %zu more are not.</p>\n", kMaxFaults,
             t.faults_more);
    Put("</section>\n");
}

void PutMarks() {
    const Tally& t = report.tally;
    Put("<section id=\"marks\"><h2>Marks</h2>\n");
    if (t.mark_count == 0) {
        Put("<p id=\"no-marks\">No marks: press m while recording to mark a moment.</p></section>\n");
        return;
    }
    Put("<ol class=\"marklist\" id=\"mark-list\">\n");
    for (int m = 0; m < t.mark_count; ++m) {
        Putf("<li>Mark %u at ", t.marks[m].number);
        PutTime(t.marks[m].time);
        Put("</li>\n");
    }
    Put("</ol>\n");
    if (t.marks_more > 0)
        Putf("<p class=\"note\">The first %d marks are listed; %zu more are not (the charts show all).</p>\n",
             kMaxMarks, t.marks_more);
    Put("</section>\n");
}

void PutBody(const RecordingLayout& layout) {
    PutHeading(layout);
    PutSummary(layout);
    PutFaults(layout);
    PutMarks();
}

// A band for the script: [low, high, "y" or "r"], null for no limit.
void PutBand(float low, float high, const char* colour, bool* first) {
    constexpr float kNoLimit = std::numeric_limits<float>::lowest();
    if (low == kNoLimit && high == kNoLimit) return;
    Put(*first ? "[" : ",[");
    *first = false;
    if (low == kNoLimit) Put("null");
    else PutNumber(low, 4);
    Put(",");
    if (high == std::numeric_limits<float>::max()) Put("null");
    else PutNumber(high, 4);
    Putf(",\"%s\"]", colour);
}

// What the page's script needs beside the rows: the readings' names, units,
// decimals and bands, in the rows' order.
void PutMeta(const RecordingLayout& layout) {
    Putf("var TD = {cat: %s, cols: [\n", layout.cat_mode ? "true" : "false");
    bool first_col = true;
    for (const ReadingInfo& r : kReadings) {
        if (!Shown(layout, IsCatOnly(r))) continue;
        const TextParts parts = PartsOf(ReadingOf(r.reading, 0.0f));
        Putf("%s{key: \"%s\", name: \"", first_col ? "" : ",\n", r.key);
        PutEscaped(r.name != nullptr ? r.name : parts.label);
        Put("\", unit: \"");
        PutEscaped(parts.unit);
        Putf("\", dec: %d, bands: [", DecimalsOf(r));
        bool first = true;
        constexpr float kNoLimit = std::numeric_limits<float>::lowest();
        if (r.bands != nullptr) {
            const ColourBands& b = *r.bands;
            PutBand(kNoLimit, b.alarm_low, "r", &first);
            if (b.warn_low != kNoLimit) PutBand(b.alarm_low, b.warn_low, "y", &first);
            PutBand(b.warn_high, b.alarm_high, "y", &first);
            PutBand(b.alarm_high, std::numeric_limits<float>::max(), "r", &first);
        }
        if (r.column == kColInjectors) PutBand(kNoLimit, static_cast<float>(kInjectorsAlarmAtMost), "r", &first);
        Put("]}");
        first_col = false;
    }
    Put("]};\n");
}

// ---- the second pass: the rows into the page ----

struct Rows {
    std::size_t written, expected;
    bool stopped;  // the file grew since the first pass: the rows counted then are written
};

bool WriteRow(void* context, const RecordingLayout& layout, const RecordedRow& row, char* why,
              std::size_t why_size) {
    Rows& rows = *static_cast<Rows*>(context);
    if (rows.written == rows.expected) {
        rows.stopped = true;
        std::snprintf(why, why_size, "more rows than before");
        return false;
    }
    ++rows.written;
    // Each row: time, every reading (empty when unanswered: a gap), the mark
    // (empty when none). Each value ends in a comma, so an empty last one
    // still counts.
    PutNumber(row.value[kColTime], 3);
    Put(",");
    for (const ReadingInfo& r : kReadings) {
        if (!Shown(layout, IsCatOnly(r))) continue;
        if (Answered(layout, row, ReadingBit(r.reading))) PutNumber(row.value[r.column], r.decimals);
        Put(",");
    }
    if (row.value[kColMark] > 0) PutNumber(row.value[kColMark], 0);
    Put(",\n");
    return !page.failed;
}

// The template's parts, between its slots "<!--@name-->".
bool PutSlot(const char* name, std::size_t length, const RecordingLayout& layout, FileHandle source) {
    const auto is = [&](const char* slot) { return std::strlen(slot) == length && std::memcmp(name, slot, length) == 0; };
    if (is("title")) {
        PutEscaped(report.name);
        Put(" - tarnwickdialer report");
    } else if (is("uplot_css")) {
        Put(uplot_css);
    } else if (is("uplot_js")) {
        Put(uplot_js);
    } else if (is("uplot_licence")) {
        PutEscaped(uplot_licence);
    } else if (is("body")) {
        PutBody(layout);
    } else if (is("data")) {
        PutMeta(layout);
        Put("var D = [\n");
        Rows rows{0, report.tally.rows, false};
        RecordingOutcome again;
        RecordingRead(ReadSome, source, WriteRow, &rows, &again);
        if (page.failed) return false;  // the caller says why
        if ((!again.ok && !rows.stopped) || rows.written != rows.expected) {
            std::fprintf(stderr, "tarnwickdialer: the recording changed while it was read: %s.\n",
                         again.ok ? "it has fewer rows" : again.why);
            return false;
        }
        Put("];\n");
    }
    return true;
}

bool PutPage(const RecordingLayout& layout, FileHandle source) {
    const char* at = report_page;
    for (;;) {
        const char* slot = std::strstr(at, "<!--@");
        if (slot == nullptr) break;
        Put(at, static_cast<std::size_t>(slot - at));
        const char* name = slot + 5;
        const char* end = std::strstr(name, "-->");
        if (end == nullptr) break;
        if (!PutSlot(name, static_cast<std::size_t>(end - name), layout, source)) return false;
        at = end + 3;
    }
    Put(at);
    Flush();
    return !page.failed;
}

const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == file_separator()) base = p + 1;
    return base;
}

}  // namespace

bool ReportPathFor(char* out, std::size_t size, const char* source) {
    std::size_t n = std::strlen(source);
    const char* dot = n >= 4 ? source + n - 4 : nullptr;
    if (dot != nullptr && dot[0] == '.' && (dot[1] | 0x20) == 'c' && (dot[2] | 0x20) == 's' && (dot[3] | 0x20) == 'v')
        n -= 4;
    const int written = std::snprintf(out, size, "%.*s.html", static_cast<int>(n), source);
    return written > 0 && static_cast<std::size_t>(written) < size;
}

int RunReport(const char* source, const char* target) {
    char source_shown[kPathSize], target_path[kPathSize], target_shown[kPathSize];
    ShowSafely(source_shown, sizeof source_shown, source);
    report = Report{};
    report.name = BaseName(source);

    FileFailure failure{};
    FileHandle in = file_open_read(source, &failure);
    if (in == nullptr) {
        char why[64];
        FileFailureText(why, sizeof why, failure);
        std::fprintf(stderr, "tarnwickdialer: cannot read '%s': %s.\n", source_shown, why);
        return 2;
    }
    RecordingRead(ReadSome, in, TallyRow, &report.tally, &report.outcome);
    file_close_read(in);
    if (!report.outcome.ok) {
        std::fprintf(stderr, "tarnwickdialer: cannot make a report of '%s': %s.\n", source_shown,
                     report.outcome.why);
        return 2;
    }
    const RecordingLayout& layout = report.outcome.layout;
    FinishTally(report.tally, layout);

    if (target == nullptr) {
        if (!ReportPathFor(target_path, sizeof target_path, source)) {
            std::fprintf(stderr, "tarnwickdialer: cannot make a report of '%s': the name is too long.\n",
                         source_shown);
            return 1;
        }
    } else if (file_is_folder(target)) {
        // Into a folder: the recording's name with .html, as a recording
        // goes into a folder under a name of its own.
        char name[kPathSize];
        const std::size_t len = std::strlen(target);
        const char last = len > 0 ? target[len - 1] : '/';
        const char joint[2] = {last == '/' || last == file_separator() ? '\0' : file_separator(), '\0'};
        if (!ReportPathFor(name, sizeof name, report.name) ||
            std::snprintf(target_path, sizeof target_path, "%s%s%s", target, joint, name) >=
                static_cast<int>(sizeof target_path)) {
            failure = {FileError::kNameTooLong, 0};
            target_path[0] = '\0';
        }
    } else if (std::snprintf(target_path, sizeof target_path, "%s", target) >= static_cast<int>(sizeof target_path)) {
        failure = {FileError::kNameTooLong, 0};
        target_path[0] = '\0';
    }
    ShowSafely(target_shown, sizeof target_shown, target_path[0] != '\0' ? target_path : target);
    page.file = target_path[0] != '\0' ? file_create_new(target_path, &failure) : nullptr;
    if (page.file == nullptr) {
        char why[64];
        if (failure.what == FileError::kExists)
            std::snprintf(why, sizeof why, "it already exists, and a report never overwrites a file");
        else
            FileFailureText(why, sizeof why, failure);
        std::fprintf(stderr, "tarnwickdialer: cannot write the report to %s: %s.\n", target_shown, why);
        return 1;
    }
    page.failed = false;
    page.used = page.written = 0;

    // Nothing half-written is left: a page that could not be finished goes.
    const auto abandon = [&](int code) {
        file_close(page.file);
        file_remove(target_path);
        return code;
    };
    in = file_open_read(source, &failure);
    if (in == nullptr) {
        char why[64];
        FileFailureText(why, sizeof why, failure);
        std::fprintf(stderr, "tarnwickdialer: cannot read '%s' again: %s.\n", source_shown, why);
        return abandon(2);
    }
    const bool whole = PutPage(layout, in);
    file_close_read(in);
    if (whole && !page.failed && !file_sync(page.file, &page.why)) page.failed = true;
    if (page.failed) {
        char why[64];
        FileFailureText(why, sizeof why, page.why);
        std::fprintf(stderr, "tarnwickdialer: cannot write the report to %s: %s; nothing is left of it.\n",
                     target_shown, why);
        return abandon(1);
    }
    if (!whole) return abandon(2);  // the recording changed: said where it was found
    file_close(page.file);
    if (report.outcome.cut_short_line != 0)
        std::printf("The last line of %s (line %zu) was cut short and is left out.\n", source_shown,
                    report.outcome.cut_short_line);
    std::printf("Wrote %s (%zu cycles, %.1f MB): open it in a web browser.\n", target_shown, report.tally.rows,
                static_cast<double>(page.written) / 1e6);
    return 0;
}

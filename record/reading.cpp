#include "record/reading.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What a cell may hold.
enum class Cell { kNumber, kWhole, kFlag, kByte, kStatus, kAnswered, kCount, kBits };

struct ColumnInfo {
    const char* header;  // "Answered (of N)" is written with the cycle's N
    bool cat_only;
    Cell cell;
};

constexpr ColumnInfo kColumns[kRecordingColumnCount] = {
    {"Time (s)", false, Cell::kNumber},
    {"Revs (rpm)", false, Cell::kNumber},
    {"Injectors (ms)", false, Cell::kNumber},
    {"Advance (deg)", false, Cell::kNumber},
    {"MAP (mbar)", false, Cell::kNumber},
    {"Air temp (C)", false, Cell::kWhole},
    {"Water temp (C)", false, Cell::kWhole},
    {"Throttle (deg)", false, Cell::kNumber},
    {"Battery (V)", false, Cell::kNumber},
    {"Injection angle (deg)", false, Cell::kNumber},
    {"VAE (%)", false, Cell::kNumber},
    {"Lambda integrator (%)", true, Cell::kNumber},
    {"Lambda closed (1/0)", true, Cell::kFlag},
    {"Uniram 1", false, Cell::kByte},
    {"Uniram 2", false, Cell::kByte},
    {"Uniram 3", false, Cell::kByte},
    {"Uniram S", false, Cell::kByte},
    {"Mixture limit (status)", true, Cell::kStatus},
    {"Air temp sensor (status)", false, Cell::kStatus},
    {"Knock (status)", false, Cell::kStatus},
    {"Water temp sensor (status)", false, Cell::kStatus},
    {"Lambda sensor (status)", true, Cell::kStatus},
    {"MAP sensor (status)", false, Cell::kStatus},
    {"Throttle sensor (status)", false, Cell::kStatus},
    {"Camshaft sensor (status)", false, Cell::kStatus},
    {"Crankshaft sensor (status)", false, Cell::kStatus},
    {nullptr, false, Cell::kAnswered},
    {"Mark", false, Cell::kCount},
    {"Unanswered (readings)", false, Cell::kBits},
};

constexpr int kRequestsPlain = 17;
constexpr int kRequestsCat = 20;
// The highest status code (not valid while the engine runs).
constexpr int kLastStatus = 7;
// Far longer than any row; a longer line is not one.
constexpr std::size_t kLineLimit = 1024;
// More cells than this and a line is not a row of any layout.
constexpr int kMostFields = kRecordingColumnCount + 1;

RecordingLayout LayoutFor(bool cat_mode, bool has_unanswered) {
    RecordingLayout layout{};
    layout.cat_mode = cat_mode;
    layout.has_unanswered = has_unanswered;
    for (int c = 0; c < kRecordingColumnCount; ++c) {
        if (kColumns[c].cat_only && !cat_mode) continue;
        if (c == kColUnanswered && !has_unanswered) continue;
        layout.columns[layout.count++] = static_cast<RecordingColumn>(c);
    }
    return layout;
}

struct Field {
    const char* text;
    std::size_t length;
};

// Splits at commas; returns the number of fields (at most `most`, the rest
// counted but not kept).
int Split(const char* line, std::size_t length, Field* fields, int most) {
    int count = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && line[i] != ',') continue;
        if (count < most) fields[count] = {line + from, i - from};
        ++count;
        from = i + 1;
    }
    return count;
}

bool Same(const Field& f, const char* text) {
    return f.length == std::strlen(text) && std::memcmp(f.text, text, f.length) == 0;
}

// A piece of the file for a message: bytes that are not printable ASCII
// (escape sequences for the terminal, binary data) shown as '?', and no
// more than a cell ever needs.
void Quote(char* out, std::size_t size, const char* text, std::size_t length) {
    constexpr std::size_t kShown = 40;
    char quoted[kShown + 8];
    std::size_t n = 0;
    quoted[n++] = '\'';
    for (std::size_t i = 0; i < length && i < kShown; ++i)
        quoted[n++] = text[i] >= ' ' && text[i] <= '~' ? text[i] : '?';
    if (length > kShown) {
        std::memcpy(quoted + n, "...", 3);
        n += 3;
    }
    quoted[n++] = '\'';
    quoted[n] = '\0';
    std::snprintf(out, size, "%s", quoted);
}

// A plain decimal number: an optional minus, digits with an optional point,
// an optional exponent. Read without the C library's locale: up to 15
// digits and a power of ten up to 22 are exact doubles, so one division or
// product rounds correctly; longer numbers go to strtod (the program never
// changes the "C" locale).
bool ParseDecimal(const char* text, std::size_t length, double* value) {
    std::size_t i = 0;
    bool negative = false;
    std::uint64_t mantissa = 0;
    int digits = 0;  // significant digits taken into the mantissa
    int scale = 0;   // power of ten to apply
    std::size_t seen = 0;
    if (i < length && text[i] == '-') {
        negative = true;
        ++i;
    }
    const auto take = [&](bool fraction) {
        while (i < length && text[i] >= '0' && text[i] <= '9') {
            ++seen;
            if (digits < 18) {
                if (mantissa != 0 || text[i] != '0') ++digits;
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
                if (fraction) --scale;
            } else if (!fraction) {
                ++scale;
            }
            ++i;
        }
    };
    take(false);
    if (i < length && text[i] == '.') {
        ++i;
        take(true);
    }
    if (seen == 0) return false;
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool minus = false;
        if (i < length && (text[i] == '+' || text[i] == '-')) minus = text[i++] == '-';
        int exponent = 0;
        std::size_t exponent_digits = 0;
        while (i < length && text[i] >= '0' && text[i] <= '9') {
            if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
            ++exponent_digits;
            ++i;
        }
        if (exponent_digits == 0) return false;
        scale += minus ? -exponent : exponent;
    }
    if (i != length) return false;
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (digits <= 15 && scale >= -22 && scale <= 22) {
        const double m = static_cast<double>(mantissa);
        const double v = scale < 0 ? m / kPowers[-scale] : m * kPowers[scale];
        *value = negative ? -v : v;
        return true;
    }
    char copy[kLineLimit + 1];
    if (length > kLineLimit) return false;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    *value = std::strtod(copy, nullptr);
    return true;
}

// One cell: a number within what its column may hold.
bool ReadCell(const Field& f, const RecordingLayout& layout, RecordingColumn column, double* value,
              char* why, std::size_t why_size) {
    const auto refuse = [&](const char* what) {
        char quoted[64];
        char header[32];
        Quote(quoted, sizeof quoted, f.text, f.length);
        RecordingHeaderOf(header, sizeof header, layout, column);
        std::snprintf(why, why_size, "%s in %s is not %s", quoted, header, what);
        return false;
    };
    if (!ParseDecimal(f.text, f.length, value) || !std::isfinite(*value)) return refuse("a number");
    const bool whole = *value == std::floor(*value);
    const auto within = [&](double lo, double hi, const char* what) {
        return (whole && *value >= lo && *value <= hi) || refuse(what);
    };
    switch (kColumns[column].cell) {
        case Cell::kNumber: return true;
        case Cell::kWhole: return within(-1e9, 1e9, "a whole number");
        case Cell::kFlag: return within(0, 1, "1 or 0");
        case Cell::kByte: return within(0, 255, "a byte (0 to 255)");
        case Cell::kStatus: return within(0, kLastStatus, "a status code (0 to 7)");
        case Cell::kAnswered:
            return layout.cat_mode ? within(0, kRequestsCat, "a count of answers (0 to 20)")
                                   : within(0, kRequestsPlain, "a count of answers (0 to 17)");
        case Cell::kCount: return within(0, 1e9, "a marker number (0 or more)");
        case Cell::kBits: return within(0, 65535, "a sum of reading bits (0 to 65535)");
    }
    return true;
}

}  // namespace

int RecordingRequests(const RecordingLayout& layout) { return layout.cat_mode ? kRequestsCat : kRequestsPlain; }

void RecordingHeaderOf(char* out, std::size_t size, const RecordingLayout& layout, RecordingColumn column) {
    if (column == kColAnswered)
        std::snprintf(out, size, "Answered (of %d)", RecordingRequests(layout));
    else
        std::snprintf(out, size, "%s", kColumns[column].header);
}

bool RecordingReadHeader(const char* line, std::size_t length, RecordingLayout* layout, char* why,
                         std::size_t why_size) {
    Field fields[kMostFields];
    const int count = Split(line, length, fields, kMostFields);
    // What a spreadsheet set to a decimal comma saves.
    if (count == 1 && std::memchr(line, ';', length) != nullptr) {
        std::snprintf(why, why_size, "not a recording: fields separated by ';' where a recording has ','");
        return false;
    }
    const bool cat_mode = count > kColLambdaIntegrator && Same(fields[kColLambdaIntegrator], "Lambda integrator (%)");
    const RecordingLayout with = LayoutFor(cat_mode, true);
    *layout = count == with.count ? with : LayoutFor(cat_mode, false);
    if (count != layout->count) {
        std::snprintf(why, why_size, "not a recording: %d columns where a recording has %d (%d with the lambda columns)",
                      count, LayoutFor(false, true).count, LayoutFor(true, true).count);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        char want[32];
        RecordingHeaderOf(want, sizeof want, *layout, layout->columns[i]);
        if (Same(fields[i], want)) continue;
        char got[64];
        Quote(got, sizeof got, fields[i].text, fields[i].length);
        std::snprintf(why, why_size, "not a recording: column %d is %s where a recording has '%s'", i + 1, got,
                      want);
        return false;
    }
    return true;
}

bool RecordingReadRow(const char* line, std::size_t length, const RecordingLayout& layout,
                      const RecordedRow* previous, RecordedRow* row, char* why, std::size_t why_size) {
    if (length == 0) {
        std::snprintf(why, why_size, "an empty line");
        return false;
    }
    Field fields[kMostFields];
    const int count = Split(line, length, fields, kMostFields);
    if (count != layout.count) {
        std::snprintf(why, why_size, "%d fields where the header has %d", count, layout.count);
        return false;
    }
    *row = RecordedRow{};
    for (int i = 0; i < count; ++i)
        if (!ReadCell(fields[i], layout, layout.columns[i], &row->value[layout.columns[i]], why, why_size))
            return false;
    const double time = row->value[kColTime];
    if (time < 0 || (previous != nullptr && time < previous->value[kColTime])) {
        char quoted[64];
        Quote(quoted, sizeof quoted, fields[0].text, fields[0].length);
        std::snprintf(why, why_size, "the time %s %s", quoted, time < 0 ? "is before the start" : "goes back");
        return false;
    }
    return true;
}

void RecordingRead(RecordingByteSource read, void* read_context, RecordingRowSink sink, void* sink_context,
                   RecordingOutcome* outcome) {
    *outcome = RecordingOutcome{};
    std::size_t number = 0;
    char reason[192];
    const auto fail = [&](std::size_t at) {
        std::snprintf(outcome->why, sizeof outcome->why, "line %zu: %s", at, reason);
        outcome->ok = false;
    };
    char line[kLineLimit + 1];
    std::size_t used = 0;
    bool too_long = false;
    RecordedRow rows[2];  // this row and the one before it
    bool have_previous = false;
    char chunk[4096];
    bool ended = false;
    while (!ended) {
        const long got = read(read_context, chunk, sizeof chunk, reason, sizeof reason);
        if (got < 0) return fail(number + 1);
        ended = got == 0;
        for (long k = 0; k < got; ++k) {
            if (chunk[k] != '\n') {
                if (used < kLineLimit) line[used++] = chunk[k];
                else too_long = true;
                continue;
            }
            ++number;
            if (too_long) {
                std::snprintf(reason, sizeof reason, "longer than any row of a recording");
                return fail(number);
            }
            std::size_t length = used;
            used = 0;
            const char* text = line;
            // A spreadsheet that saved the file again may have added carriage
            // returns, and a byte-order mark before the header.
            if (length > 0 && text[length - 1] == '\r') --length;
            if (number == 1 && length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
                text += 3;
                length -= 3;
            }
            if (number == 1) {
                if (!RecordingReadHeader(text, length, &outcome->layout, reason, sizeof reason)) return fail(number);
                continue;
            }
            RecordedRow& row = rows[outcome->rows % 2];
            const RecordedRow* previous = have_previous ? &rows[(outcome->rows + 1) % 2] : nullptr;
            if (!RecordingReadRow(text, length, outcome->layout, previous, &row, reason, sizeof reason))
                return fail(number);
            if (!sink(sink_context, outcome->layout, row, reason, sizeof reason)) return fail(number);
            have_previous = true;
            ++outcome->rows;
        }
    }
    if (used > 0 || too_long) {
        // Cut short by a recorder that was stopped while writing.
        ++number;
        if (number == 1) {
            std::snprintf(reason, sizeof reason, "not a recording: the header is cut short");
            return fail(number);
        }
        outcome->cut_short_line = number;
    }
    if (number == 0) {
        std::snprintf(reason, sizeof reason, "not a recording: the file is empty");
        return fail(1);
    }
    if (outcome->rows == 0) {
        std::snprintf(reason, sizeof reason, "no complete row");
        return fail(outcome->cut_short_line != 0 ? outcome->cut_short_line : number + 1);
    }
    outcome->ok = true;
}

#include "replay.h"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstring>
#include <locale>
#include <sstream>
#include <string_view>

#include "scenario.h"

namespace ecusim {
namespace {

// The columns of a recording in file order; the lambda ones only in a
// recording made in cat mode.
enum Column {
    kTime, kRevs, kInjectors, kAdvance, kManifold, kAir, kWater, kThrottle, kBattery,
    kInjectionAngle, kVae, kLambdaIntegrator, kLambdaClosed,
    kUniram1, kUniram2, kUniram3, kUniramS,
    kMixtureStatus, kAirStatus, kKnockStatus, kWaterStatus, kLambdaStatus, kManifoldStatus,
    kThrottleStatus, kCamshaftStatus, kCrankshaftStatus,
    kAnswered, kMark, kColumnCount
};

// What a cell may hold.
enum class Cell { kNumber, kWhole, kFlag, kByte, kStatus, kAnswered, kCount };

struct ColumnInfo {
    const char* header;  // "Answered (of N)" is written with the cycle's N
    bool cat_only;
    Cell cell;
};

constexpr ColumnInfo kColumns[kColumnCount] = {
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
};

// Requests a monitor cycle makes.
constexpr int kRequestsPlain = 17;
constexpr int kRequestsCat = 20;
// The highest status code (not valid while the engine runs).
constexpr int kLastStatus = 7;
// Far longer than any row; a longer line is not one.
constexpr std::size_t kLineLimit = 1024;

struct Layout {
    bool cat_mode = false;
    Column columns[kColumnCount];
    std::size_t count = 0;
};

Layout LayoutFor(bool cat_mode) {
    Layout layout;
    layout.cat_mode = cat_mode;
    for (int c = 0; c < kColumnCount; ++c)
        if (cat_mode || !kColumns[c].cat_only) layout.columns[layout.count++] = static_cast<Column>(c);
    return layout;
}

std::string HeaderOf(const Layout& layout, Column column) {
    if (column == kAnswered) {
        std::string header = "Answered (of ";
        header += std::to_string(layout.cat_mode ? kRequestsCat : kRequestsPlain);
        return header + ")";
    }
    return kColumns[column].header;
}

std::vector<std::string_view> Split(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t comma = line.find(',');
        fields.push_back(line.substr(0, comma));
        if (comma == std::string_view::npos) return fields;
        line.remove_prefix(comma + 1);
    }
}

// A piece of the file for a message: bytes that are not printable ASCII
// (escape sequences for the terminal, binary data) shown as '?', and no
// more than a cell ever needs.
std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string quoted = "'";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i)
        quoted += text[i] >= ' ' && text[i] <= '~' ? text[i] : '?';
    return quoted + (text.size() > kShown ? "...'" : "'");
}

// Which layout the header names, or why it is none.
bool ReadHeader(std::string_view line, Layout* layout, std::string* error) {
    const std::vector<std::string_view> fields = Split(line);
    // What a spreadsheet set to a decimal comma saves.
    if (fields.size() == 1 && line.find(';') != std::string_view::npos) {
        *error = "not a recording: fields separated by ';' where a recording has ','";
        return false;
    }
    const bool cat_mode =
        fields.size() > kLambdaIntegrator && fields[kLambdaIntegrator] == kColumns[kLambdaIntegrator].header;
    *layout = LayoutFor(cat_mode);
    if (fields.size() != layout->count) {
        *error = "not a recording: " + std::to_string(fields.size()) + " columns where a recording has " +
                 std::to_string(LayoutFor(false).count) + " (" + std::to_string(LayoutFor(true).count) +
                 " with the lambda columns)";
        return false;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string want = HeaderOf(*layout, layout->columns[i]);
        if (fields[i] != want) {
            *error = "not a recording: column " + std::to_string(i + 1) + " is " + Quoted(fields[i]) +
                     " where a recording has " + Quoted(want);
            return false;
        }
    }
    return true;
}

// A plain decimal number: an optional minus, digits with an optional point,
// an optional exponent; read in the classic locale. (std::from_chars would
// do, but the libc++ of macOS and of zig has it for integers only.)
bool ParseDecimal(std::string_view text, double* value) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        return i - from;
    };
    if (i < text.size() && text[i] == '-') ++i;
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    if (i != text.size()) return false;
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());
    return static_cast<bool>(in >> *value);
}

// One cell: a plain decimal number whatever the locale, within what its
// column may hold.
bool ReadCell(std::string_view text, const Layout& layout, Column column, double* value, std::string* error) {
    auto refuse = [&](const std::string& what) {
        *error = Quoted(text) + " in " + HeaderOf(layout, column) + " is not " + what;
        return false;
    };
    if (!ParseDecimal(text, value) || !std::isfinite(*value)) return refuse("a number");
    const bool whole = *value == std::floor(*value);
    auto within = [&](double lo, double hi, const char* what) { return (whole && *value >= lo && *value <= hi) || refuse(what); };
    switch (kColumns[column].cell) {
        case Cell::kNumber:
            return true;
        case Cell::kWhole:
            return within(-1e9, 1e9, "a whole number");
        case Cell::kFlag:
            return within(0, 1, "1 or 0");
        case Cell::kByte:
            return within(0, 255, "a byte (0 to 255)");
        case Cell::kStatus:
            return within(0, kLastStatus, "a status code (0 to 7)");
        case Cell::kAnswered:
            return layout.cat_mode ? within(0, kRequestsCat, "a count of answers (0 to 20)")
                                   : within(0, kRequestsPlain, "a count of answers (0 to 17)");
        case Cell::kCount:
            return within(0, 1e9, "a marker number (0 or more)");
    }
    return true;
}

// The engine as the row has it; what a plain recording lacks stays 0.
ReplayRow RowOf(const double (&v)[kColumnCount], bool cat_mode) {
    EngineState s;
    s.revs_rpm = v[kRevs];
    s.injectors_ms = v[kInjectors];
    s.advance_degrees = v[kAdvance];
    s.manifold_millibar = v[kManifold];
    s.air_celsius = v[kAir];
    s.water_celsius = v[kWater];
    s.throttle_degrees = v[kThrottle];
    s.battery_volts = v[kBattery];
    s.injection_angle_degrees = v[kInjectionAngle];
    s.vae_percent = v[kVae];
    s.lambda_integrator_percent = cat_mode ? v[kLambdaIntegrator] : 0;
    s.closed_loop = cat_mode && v[kLambdaClosed] != 0;
    s.uniram1 = static_cast<std::uint8_t>(v[kUniram1]);
    s.uniram2 = static_cast<std::uint8_t>(v[kUniram2]);
    s.uniram3 = static_cast<std::uint8_t>(v[kUniram3]);
    s.uniramS = static_cast<std::uint8_t>(v[kUniramS]);
    const RegisterImage image = EncodeState(s);
    ReplayRow row;
    row.seconds = v[kTime];
    for (std::size_t a = 0; a < row.registers.size(); ++a) row.registers[a] = image[a];
    row.silent = v[kAnswered] == 0;
    return row;
}

bool ReadRow(std::string_view line, const Layout& layout, const Recording& so_far, ReplayRow* row,
             std::string* error) {
    if (line.empty()) {
        *error = "an empty line";
        return false;
    }
    const std::vector<std::string_view> fields = Split(line);
    if (fields.size() != layout.count) {
        *error = std::to_string(fields.size()) + " fields where the header has " + std::to_string(layout.count);
        return false;
    }
    double values[kColumnCount] = {};
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!ReadCell(fields[i], layout, layout.columns[i], &values[layout.columns[i]], error)) return false;
    if (values[kTime] < 0) {
        *error = "the time " + Quoted(fields[0]) + " is before the start";
        return false;
    }
    if (!so_far.rows.empty() && values[kTime] < so_far.rows.back().seconds) {
        *error = "the time " + Quoted(fields[0]) + " goes back";
        return false;
    }
    *row = RowOf(values, layout.cat_mode);
    return true;
}

}  // namespace

bool ReadRecording(std::FILE* in, Recording* recording, std::string* error) {
    *recording = Recording{};
    Layout layout;
    char buffer[kLineLimit];
    std::size_t number = 0;
    auto fail = [&](const std::string& reason) {
        *error = "line " + std::to_string(number) + ": " + reason;
        return false;
    };
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
        ++number;
        std::string_view line(buffer, std::strlen(buffer));
        if (line.empty() || line.back() != '\n') {
            if (std::feof(in)) {
                // Cut short by a recorder that was stopped while writing.
                if (number == 1) return fail("not a recording: the header is cut short");
                recording->cut_short_line = number;
                break;
            }
            return fail("longer than any row of a recording");
        }
        line.remove_suffix(1);
        // A spreadsheet that saved the file again may have added carriage returns.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string reason;
        if (number == 1) {
            if (!ReadHeader(line, &layout, &reason)) return fail(reason);
            continue;
        }
        ReplayRow row;
        if (!ReadRow(line, layout, *recording, &row, &reason)) return fail(reason);
        recording->rows.push_back(row);
    }
    if (std::ferror(in)) {
        const int err = errno;
        ++number;
        return fail(std::string("cannot read: ") + std::strerror(err));
    }
    if (number == 0) {
        number = 1;
        return fail("not a recording: the file is empty");
    }
    recording->cat_mode = layout.cat_mode;
    if (recording->rows.empty()) {
        number = recording->cut_short_line != 0 ? recording->cut_short_line : number + 1;
        return fail("no complete row to play");
    }
    return true;
}

bool LoadRecording(const std::string& path, Recording* recording, std::string* error) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        *error = "cannot open the recording '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::string reason;
    const bool ok = ReadRecording(in, recording, &reason);
    std::fclose(in);
    if (!ok) *error = "cannot replay '" + path + "': " + reason;
    return ok;
}

}  // namespace ecusim

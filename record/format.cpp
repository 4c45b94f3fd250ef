#include "record/format.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// Appends to a line that can never be cut short: every caller's buffer is
// kRecordLineSize, far more than the widest row.
struct Line {
    char* out;
    std::size_t size;
    std::size_t used = 0;

    void Text(const char* text) {
        const std::size_t n = std::strlen(text);
        if (used + n >= size) return;
        std::memcpy(out + used, text, n + 1);
        used += n;
    }
    // One cell and its separator (`end`: ',' or '\n').
    void Real(const char* format, float value, char end = ',') {
        char cell[64];
        std::snprintf(cell, sizeof cell, format, static_cast<double>(value));
        Text(cell);
        Separator(end);
    }
    void Whole(long long value, char end = ',') {
        char cell[32];
        std::snprintf(cell, sizeof cell, "%lld", value);
        Text(cell);
        Separator(end);
    }
    void Separator(char end) {
        const char text[2] = {end, '\0'};
        Text(text);
    }
};

}  // namespace

std::size_t RecordHeader(char* out, std::size_t size, bool cat_mode) {
    Line line{out, size};
    line.Text("Time (s),Revs (rpm),Injectors (ms),Advance (deg),MAP (mbar),Air temp (C),"
              "Water temp (C),Throttle (deg),Battery (V),Injection angle (deg),VAE (%),");
    if (cat_mode) line.Text("Lambda integrator (%),Lambda closed (1/0),");
    line.Text("Uniram 1,Uniram 2,Uniram 3,Uniram S,");
    if (cat_mode) line.Text("Mixture limit (status),");
    line.Text("Air temp sensor (status),Knock (status),Water temp sensor (status),");
    if (cat_mode) line.Text("Lambda sensor (status),");
    line.Text("MAP sensor (status),Throttle sensor (status),Camshaft sensor (status),"
              "Crankshaft sensor (status),");
    line.Text(cat_mode ? "Answered (of 20)," : "Answered (of 17),");
    line.Text("Mark,Unanswered (readings)\n");
    return line.used;
}

std::size_t RecordRow(char* out, std::size_t size, const CycleRecord& r, bool cat_mode,
                      std::uint64_t elapsed_ms, unsigned answered, unsigned mark) {
    Line line{out, size};
    // Whole milliseconds: the time is exact, with no rounding of its own.
    line.Whole(static_cast<long long>(elapsed_ms / 1000), '.');
    char millis[4] = {static_cast<char>('0' + elapsed_ms % 1000 / 100),
                      static_cast<char>('0' + elapsed_ms % 100 / 10),
                      static_cast<char>('0' + elapsed_ms % 10), '\0'};
    line.Text(millis);
    line.Separator(',');
    line.Real("%.3f", r.revs);
    line.Real("%.3f", r.injectors);
    line.Real("%.2f", r.advance);
    line.Real("%.4f", r.manifold_pressure);
    line.Whole(r.air_temperature);
    line.Whole(r.water_temperature);
    line.Real("%.4f", r.throttle);
    line.Real("%.4f", r.battery);
    line.Real("%.1f", r.injection_angle);
    line.Real("%.4f", r.vae);
    if (cat_mode) {
        line.Real("%.6f", r.lambda_integrator);
        line.Whole(r.lambda_closed ? 1 : 0);
    }
    for (std::uint8_t byte : {r.uniram1, r.uniram2, r.uniram3, r.uniramS}) line.Whole(byte);
    if (cat_mode) line.Whole(r.mixture);
    line.Whole(r.air);
    line.Whole(r.knock);
    line.Whole(r.water);
    if (cat_mode) line.Whole(r.lambda);
    for (std::uint8_t code : {r.map, r.throttle_sensor, r.camshaft, r.crankshaft}) line.Whole(code);
    line.Whole(answered);
    line.Whole(mark);
    line.Whole(r.unanswered, '\n');
    return line.used;
}

bool RecordingPathIn(char* out, std::size_t size, const char* folder, const LocalTime& t,
                     char separator, int copy) {
    const std::size_t len = std::strlen(folder);
    const char last = len > 0 ? folder[len - 1] : separator;
    const char joint[2] = {last == separator || last == '/' ? '\0' : separator, '\0'};
    char suffix[16] = "";
    if (copy >= 2) std::snprintf(suffix, sizeof suffix, "-%d", copy);
    const int n = std::snprintf(out, size, "%s%starnwickdialer-%04d-%02d-%02d_%02d.%02d.%02d%s.csv",
                                folder, joint, t.year, t.month, t.day, t.hour, t.minute, t.second, suffix);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

void FileFailureText(char* out, std::size_t size, const FileFailure& why) {
    const char* text = nullptr;
    switch (why.what) {
        case FileError::kNone: text = "no error"; break;
        case FileError::kExists:
            text = "it already exists, and a recording never overwrites a file";
            break;
        case FileError::kNoFolder: text = "no such folder"; break;
        case FileError::kNotAFolder: text = "a file stands where a folder of its path should be"; break;
        case FileError::kNoPermission: text = "no permission to write there"; break;
        case FileError::kReadOnly: text = "the disk is read-only"; break;
        case FileError::kNoSpace: text = "the disk is full"; break;
        case FileError::kNameTooLong: text = "the name is too long"; break;
        case FileError::kGone: text = "the disk is gone"; break;
        case FileError::kNoFile: text = "no such file"; break;
        case FileError::kNotAFile: text = "not a plain file"; break;
        case FileError::kOther: std::snprintf(out, size, "error %d", why.code); return;
    }
    std::snprintf(out, size, "%s", text);
}

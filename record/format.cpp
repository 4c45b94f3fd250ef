#include "record/format.h"

#include <cstdio>
#include <cstring>

namespace {

// Appends to a line that can never be cut short: every caller's buffer is
// kRecordLineSize, far more than the widest row.
struct Line {
    char* out;
    std::size_t size;
    std::size_t used = 0;

    template <typename... Args>
    void Add(const char* format, Args... args) {
        if (used >= size) return;
        const int n = std::snprintf(out + used, size - used, format, args...);
        if (n > 0) used += static_cast<std::size_t>(n);
        if (used >= size) used = size - 1;
    }
};

double Wide(float value) { return static_cast<double>(value); }

}  // namespace

std::size_t RecordHeader(char* out, std::size_t size, bool cat_mode) {
    Line line{out, size};
    line.Add("Time (s),Revs (rpm),Injectors (ms),Advance (deg),MAP (mbar),Air temp (C),"
             "Water temp (C),Throttle (deg),Battery (V),Injection angle (deg),VAE (%%),");
    if (cat_mode) line.Add("Lambda integrator (%%),Lambda closed (1/0),");
    line.Add("Uniram 1,Uniram 2,Uniram 3,Uniram S,");
    if (cat_mode) line.Add("Mixture limit (status),");
    line.Add("Air temp sensor (status),Knock (status),Water temp sensor (status),");
    if (cat_mode) line.Add("Lambda sensor (status),");
    line.Add("MAP sensor (status),Throttle sensor (status),Camshaft sensor (status),"
             "Crankshaft sensor (status),Answered (of %u),Mark\n",
             cat_mode ? kRequestsPerCatCycle : kRequestsPerCycle);
    return line.used;
}

std::size_t RecordRow(char* out, std::size_t size, const CycleRecord& r, bool cat_mode,
                      std::uint64_t elapsed_ms, unsigned answered, unsigned mark) {
    Line line{out, size};
    // Whole milliseconds: the time is exact, with no rounding of its own.
    line.Add("%llu.%03u,", static_cast<unsigned long long>(elapsed_ms / 1000),
             static_cast<unsigned>(elapsed_ms % 1000));
    line.Add("%.2f,%.3f,%.2f,%.4f,%d,%d,%.4f,%.4f,%.1f,%.4f,", Wide(r.revs), Wide(r.injectors),
             Wide(r.advance), Wide(r.manifold_pressure), r.air_temperature, r.water_temperature,
             Wide(r.throttle), Wide(r.battery), Wide(r.injection_angle), Wide(r.vae));
    if (cat_mode) line.Add("%.6f,%d,", Wide(r.lambda_integrator), r.lambda_closed ? 1 : 0);
    line.Add("%d,%d,%d,%d,", r.uniram1, r.uniram2, r.uniram3, r.uniramS);
    if (cat_mode) line.Add("%d,", r.mixture);
    line.Add("%d,%d,%d,", r.air, r.knock, r.water);
    if (cat_mode) line.Add("%d,", r.lambda);
    line.Add("%d,%d,%d,%d,%u,%u\n", r.map, r.throttle_sensor, r.camshaft, r.crankshaft, answered,
             mark);
    return line.used;
}

void RecordingPathIn(char* out, std::size_t size, const char* folder, const LocalTime& t,
                     char separator) {
    const std::size_t len = std::strlen(folder);
    const char last = len > 0 ? folder[len - 1] : separator;
    const char joint[2] = {last == separator || last == '/' ? '\0' : separator, '\0'};
    std::snprintf(out, size, "%s%starnwickdialer-%04d-%02d-%02d_%02d.%02d.%02d.csv", folder, joint,
                  t.year, t.month, t.day, t.hour, t.minute, t.second);
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
        case FileError::kOther: std::snprintf(out, size, "error %d", why.code); return;
    }
    std::snprintf(out, size, "%s", text);
}

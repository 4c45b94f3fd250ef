#include "replay.h"

#include <cerrno>
#include <cstring>

#include "record/reading.h"
#include "scenario.h"

namespace ecusim {
namespace {

// The engine as the row has it; what a plain recording lacks stays 0.
ReplayRow RowOf(const double (&v)[kRecordingColumnCount], bool cat_mode) {
    EngineState s;
    s.revs_rpm = v[kColRevs];
    s.injectors_ms = v[kColInjectors];
    s.advance_degrees = v[kColAdvance];
    s.manifold_millibar = v[kColManifold];
    s.air_celsius = v[kColAir];
    s.water_celsius = v[kColWater];
    s.throttle_degrees = v[kColThrottle];
    s.battery_volts = v[kColBattery];
    s.injection_angle_degrees = v[kColInjectionAngle];
    s.vae_percent = v[kColVae];
    s.lambda_integrator_percent = cat_mode ? v[kColLambdaIntegrator] : 0;
    s.closed_loop = cat_mode && v[kColLambdaClosed] != 0;
    s.uniram1 = static_cast<std::uint8_t>(v[kColUniram1]);
    s.uniram2 = static_cast<std::uint8_t>(v[kColUniram2]);
    s.uniram3 = static_cast<std::uint8_t>(v[kColUniram3]);
    s.uniramS = static_cast<std::uint8_t>(v[kColUniramS]);
    const RegisterImage image = EncodeState(s);
    ReplayRow row;
    row.seconds = v[kColTime];
    for (std::size_t a = 0; a < row.registers.size(); ++a) row.registers[a] = image[a];
    row.silent = v[kColAnswered] == 0;
    row.unanswered = static_cast<std::uint16_t>(v[kColUnanswered]);
    return row;
}

long ReadFromFile(void* context, char* buffer, std::size_t size, char* why, std::size_t why_size) {
    std::FILE* in = static_cast<std::FILE*>(context);
    const std::size_t got = std::fread(buffer, 1, size, in);
    if (got == 0 && std::ferror(in)) {
        std::snprintf(why, why_size, "cannot read: %s", std::strerror(errno));
        return -1;
    }
    return static_cast<long>(got);
}

bool KeepRow(void* context, const RecordingLayout& layout, const RecordedRow& row, char*, std::size_t) {
    static_cast<Recording*>(context)->rows.push_back(RowOf(row.value, layout.cat_mode));
    return true;
}

}  // namespace

bool ReadRecording(std::FILE* in, Recording* recording, std::string* error) {
    *recording = Recording{};
    RecordingOutcome outcome;
    RecordingRead(ReadFromFile, in, KeepRow, recording, &outcome);
    if (!outcome.ok) {
        *error = outcome.why;
        return false;
    }
    recording->cat_mode = outcome.layout.cat_mode;
    recording->cut_short_line = outcome.cut_short_line;
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

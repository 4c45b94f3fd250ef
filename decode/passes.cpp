// The dashboard's layout: every reading, status and note is placed here.
#include "decode/passes.h"

#include <cstdint>

#include "decode/conversions.h"
#include "decode/faults.h"
#include "decode/registers.h"
#include "link/link.h"
#include "screen/console_writer.h"
#include "screen/frame.h"

namespace {

std::uint8_t Read8(EcuRegister address) { return static_cast<std::uint8_t>(GetECUByte(address)); }

// Marks `reading` unanswered in `record` unless every request made since
// `before` was answered.
void Note(CycleRecord& record, CycleReading reading, const LinkTally& before) {
    const LinkTally now = link_tally();
    if (now.answered - before.answered != now.requests - before.requests)
        record.unanswered = static_cast<std::uint16_t>(record.unanswered | ReadingBit(reading));
}

// High address first, always.
std::uint16_t Read16(EcuRegister high, EcuRegister low) {
    const std::uint16_t h = Read8(high);
    const std::uint16_t l = Read8(low);
    return static_cast<std::uint16_t>(h * 256u + l);
}

void Show(ConsoleHandle console, const Reading& r, std::int16_t x, std::int16_t y) {
    PrintColour(console, r.text, x, y, r.colour);
}

void Show(ConsoleHandle console, const SensorStatus& s, std::int16_t x, std::int16_t y) {
    if (s.written) PrintColour(console, s.text, x, y, s.colour);
}

// The camshaft and crankshaft note, two lines.
void ShowNote(ConsoleHandle console, const char* note) { PrintColour(console, note, 0, 11, kColourWarning); }

}  // namespace

bool ShowLiveData(ConsoleHandle console, bool cat_mode, CycleRecord* record) {
    CycleRecord unused{};
    CycleRecord& out = record != nullptr ? *record : unused;
    LinkTally before = link_tally();
    // Shows a reading, keeps its value and whether it was answered.
    const auto show = [&](const Reading& r, std::int16_t x, std::int16_t y, float* kept,
                          CycleReading which) {
        Show(console, r, x, y);
        *kept = r.value;
        Note(out, which, before);
        before = link_tally();
    };
    const Reading revs = ConvertRevs(Read16(kRegRevsHigh, kRegRevsLow));
    show(revs, 0, 5, &out.revs, kReadRevs);

    const bool running = EngineRunning(revs);
    // The labels go while the engine runs, with their statuses (fault pass).
    PrintColour(console, running ? "               " : "Camshaft sensor", 40, 15, kColourLabel);
    PrintColour(console, running ? "                 " : "Crankshaft sensor", 40, 16, kColourLabel);

    // The label writes make no request: `before` still holds.
    show(ConvertInjectors(Read16(kRegInjectorsHigh, kRegInjectorsLow)), 40, 5, &out.injectors,
         kReadInjectors);
    show(ConvertAdvance(Read8(kRegAdvance)), 0, 6, &out.advance, kReadAdvance);
    show(ConvertManifoldPressure(Read8(kRegManifoldPressure)), 40, 6, &out.manifold_pressure,
         kReadManifold);
    float degrees = 0;
    show(ConvertAirTemperature(Read8(kRegAirTemperature)), 0, 7, &degrees, kReadAir);
    out.air_temperature = static_cast<int>(degrees);
    show(ConvertWaterTemperature(Read8(kRegWaterTemperature)), 40, 7, &degrees, kReadWater);
    out.water_temperature = static_cast<int>(degrees);
    show(ConvertThrottle(Read8(kRegThrottle)), 0, 8, &out.throttle, kReadThrottle);
    show(ConvertBattery(Read8(kRegBattery)), 40, 8, &out.battery, kReadBattery);
    show(ConvertInjectionAngle(Read8(kRegInjectionAngle)), 0, 9, &out.injection_angle,
         kReadInjectionAngle);
    show(ConvertVae(Read16(kRegVaeHigh, kRegVaeLow)), 40, 9, &out.vae, kReadVae);

    if (cat_mode) {
        show(ConvertLambdaIntegrator(Read16(kRegLambdaIntegratorHigh, kRegLambdaIntegratorLow)), 63,
             18, &out.lambda_integrator, kReadLambdaIntegrator);
        float state = 0;
        show(ConvertLambdaState(Read8(kRegLambdaState)), 64, 19, &state, kReadLambdaState);
        out.lambda_closed = state != 0.0f;
    }
    return running;
}

void ShowSensorFaults(ConsoleHandle console, bool cat_mode, bool engine_running,
                      CycleRecord* record) {
    CycleRecord unused{};
    CycleRecord& out = record != nullptr ? *record : unused;
    const auto read = [&](EcuRegister address, CycleReading which) {
        const LinkTally before = link_tally();
        const std::uint8_t byte = Read8(address);
        Note(out, which, before);
        return byte;
    };
    const std::uint8_t uniram1 = read(kRegUniram1, kReadUniram1);
    const std::uint8_t uniram2 = read(kRegUniram2, kReadUniram2);
    const std::uint8_t uniram3 = read(kRegUniram3, kReadUniram3);
    const std::uint8_t uniramS = read(kRegUniramS, kReadUniramS);
    const FaultReport r = DecodeFaults(uniram1, uniram2, uniram3, uniramS, cat_mode, engine_running);

    PrintColour(console, kFooter, kFooterColumn, kFooterRow, kColourGuide);
    PrintColour(console, r.info, 17, 22, kColourNormal);

    Show(console, r.mixture, 21, 18);
    Show(console, r.air, 21, 13);
    Show(console, r.knock, 65, 13);
    Show(console, r.water, 21, 14);
    Show(console, r.lambda, 21, 19);
    Show(console, r.map, 21, 15);
    Show(console, r.throttle, 65, 14);

    // Stopped, the note explains the statuses that follow it; running, the
    // blanked statuses go before the note that says why.
    if (!engine_running) ShowNote(console, r.note);
    Show(console, r.camshaft, 65, 15);
    if (engine_running) ShowNote(console, r.note);
    Show(console, r.crankshaft, 65, 16);

    if (record == nullptr) return;
    record->uniram1 = uniram1;
    record->uniram2 = uniram2;
    record->uniram3 = uniram3;
    record->uniramS = uniramS;
    record->mixture = r.mixture.code;
    record->air = r.air.code;
    record->knock = r.knock.code;
    record->water = r.water.code;
    record->lambda = r.lambda.code;
    record->map = r.map.code;
    record->throttle_sensor = r.throttle.code;
    record->camshaft = r.camshaft.code;
    record->crankshaft = r.crankshaft.code;
}

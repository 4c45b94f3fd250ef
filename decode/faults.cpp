#include "decode/faults.h"

#include <cstdio>

#include "screen/colours.h"

namespace {

// Every text that can stand at a place is as wide as the widest one there,
// since nothing on the dashboard is erased before it is overwritten.
const char kShort[] = "Short circuit";
const char kOpen[] = "Open circuit ";
const char kOk13[] = "OK           ";
const char kBlank13[] = "             ";

const char kNoteStopped[] =
    "Cam & Crank sensor faults can take up to 8 seconds to show.\n"
    "Reconnecting after disconnected will show as short circuit";
// The spaces blank the other note's first line; the second line is padded
// to the width of the other note's second line.
const char kNoteRunning[] =
    "                                                           \n"
    "Cam & Crank sensors only valid when engine not running    ";

SensorStatus Status(bool fault, StatusCode fault_code, const char* fault_text, const char* ok_text) {
    return {fault ? fault_text : ok_text, fault ? kColourAlarm : kColourNormal, true,
            fault ? fault_code : kStatusOk};
}

SensorStatus ShortOrOpen(bool fault, bool short_circuit) {
    return Status(fault, short_circuit ? kStatusShortCircuit : kStatusOpenCircuit,
                  short_circuit ? kShort : kOpen, kOk13);
}

bool Bit(std::uint8_t byte, unsigned bit) { return (byte >> bit) & 1u; }

}  // namespace

FaultReport DecodeFaults(std::uint8_t uniram1, std::uint8_t uniram2, std::uint8_t uniram3,
                         std::uint8_t uniramS, bool cat_mode, bool engine_running) {
    FaultReport r{};

    const bool lean = Bit(uniram3, 0);
    r.mixture = Status(Bit(uniram1, 1), lean ? kStatusMaxLean : kStatusMaxRich,
                       lean ? "Max lean" : "Max rich", "OK      ");
    r.air = ShortOrOpen(Bit(uniram1, 2), Bit(uniram3, 1));
    r.knock = Status(Bit(uniram1, 3), kStatusPinking, "Pinking", "OK     ");
    r.water = ShortOrOpen(Bit(uniram1, 4), Bit(uniram3, 2));
    r.lambda = Status(Bit(uniram1, 5), kStatusFaulty, "Faulty", "OK    ");
    r.map = ShortOrOpen(Bit(uniram1, 6), Bit(uniram3, 7));
    r.throttle = ShortOrOpen(Bit(uniram1, 7), Bit(uniram3, 3));

    // uniram2 carries one camshaft-or-crankshaft fault at a time: bit 3 says
    // one is present, bit 7 which sensor (set: crankshaft), bit 1 short or open.
    const bool cam_crank_fault = Bit(uniram2, 3);
    const bool crank = Bit(uniram2, 7);
    const bool short_circuit = Bit(uniram2, 1);
    r.camshaft = ShortOrOpen(Bit(uniram1, 0) && cam_crank_fault && !crank, short_circuit);
    r.crankshaft = ShortOrOpen(cam_crank_fault && crank, short_circuit);

    if (!cat_mode) {
        r.mixture.written = false;
        r.lambda.written = false;
    }
    // The ECU only reports these two sensors reliably with the engine stopped.
    if (engine_running) {
        r.camshaft = r.crankshaft = {kBlank13, kColourNormal, true, kStatusNotValidRunning};
    }

    r.note = engine_running ? kNoteRunning : kNoteStopped;

    std::snprintf(r.info, sizeof r.info, "Info only, uniram 1, 2, 3, S: %02x, %02x, %02x, %02x",
                  static_cast<unsigned>(uniram1), static_cast<unsigned>(uniram2),
                  static_cast<unsigned>(uniram3), static_cast<unsigned>(uniramS));
    return r;
}

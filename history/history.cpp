#include "history/history.h"

#include "decode/conversions.h"
#include "decode/faults.h"
#include "screen/colours.h"

namespace {

float ValueOf(const CycleRecord& r, int reading) {
    switch (reading) {
        case kReadRevs: return r.revs;
        case kReadInjectors: return r.injectors;
        case kReadAdvance: return r.advance;
        case kReadManifold: return r.manifold_pressure;
        case kReadAir: return static_cast<float>(r.air_temperature);
        case kReadWater: return static_cast<float>(r.water_temperature);
        case kReadThrottle: return r.throttle;
        case kReadBattery: return r.battery;
        case kReadInjectionAngle: return r.injection_angle;
        case kReadVae: return r.vae;
        default: return r.lambda_integrator;
    }
}

std::uint8_t StatusOf(const CycleRecord& r, int sensor) {
    switch (sensor) {
        case kSensorAir: return r.air;
        case kSensorKnock: return r.knock;
        case kSensorWater: return r.water;
        case kSensorMap: return r.map;
        case kSensorThrottle: return r.throttle_sensor;
        case kSensorCamshaft: return r.camshaft;
        case kSensorCrankshaft: return r.crankshaft;
        case kSensorMixture: return r.mixture;
        default: return r.lambda;
    }
}

bool Answered(const CycleRecord& r, CycleReading reading) { return (r.unanswered & ReadingBit(reading)) == 0; }

bool IsFault(std::uint8_t code) { return code >= kStatusShortCircuit && code <= kStatusMaxRich; }

void Slot(History& h, std::int64_t slice) {
    // Slices passed over without a cycle stay gaps.
    if (slice <= h.slice) return;
    const std::int64_t from = slice - h.slice > kTrendRing ? slice - kTrendRing + 1 : h.slice + 1;
    for (std::int64_t s = from; s <= slice; ++s) {
        const int i = static_cast<int>(s % kTrendRing);
        for (ReadingMemory& m : h.readings) {
            m.slice_sum[i] = 0;
            m.slice_count[i] = 0;
        }
    }
    h.slice = slice;
}

bool AddReading(ReadingMemory& m, int reading, float value, std::uint64_t at, int slot) {
    m.answered_now = true;
    m.now = value;
    if (!m.seen || value < m.low.value) m.low = {value, at};
    if (!m.seen || value > m.high.value) m.high = {value, at};
    m.seen = true;
    m.slice_sum[slot] += value;
    ++m.slice_count[slot];
    const bool red = ReadingColour(static_cast<CycleReading>(reading), value) == kColourAlarm;
    const bool tone = m.band_known && red && !m.red_now;
    m.band_known = true;
    m.red_now = red;
    return tone;
}

bool AddStatus(History& h, int sensor, std::uint8_t code, std::uint64_t at) {
    const bool was_known = h.status_known[sensor];
    const std::uint8_t before = h.status_now[sensor];
    h.status_known[sensor] = true;
    h.status_now[sensor] = code;
    if (!IsFault(code)) return false;
    FaultMemory& f = h.faults[sensor][code - 1];
    if (!was_known || before != code) ++f.appearances;
    if (f.cycles == 0) f.first_ms = at;
    ++f.cycles;
    f.last_ms = at;
    return was_known && before == kStatusOk;
}

}  // namespace

void HistoryReset(History& h, bool cat_mode, std::uint64_t now_ms) {
    h = History{};
    h.cat_mode = cat_mode;
    h.since_ms = now_ms;
    h.slice = -1;
}

bool HistorySensorCounts(const History& h, HistorySensor sensor) {
    return h.cat_mode || (sensor != kSensorMixture && sensor != kSensorLambda);
}

bool HistoryAdd(History& h, const HistoryCycle& c) {
    const CycleRecord& r = *c.record;
    const std::uint64_t at = c.at_ms > h.since_ms ? c.at_ms : h.since_ms;
    Slot(h, static_cast<std::int64_t>((at - h.since_ms) / kTrendSliceMs));
    const int slot = static_cast<int>(h.slice % kTrendRing);
    ++h.cycles;
    bool tone = false;

    const int readings = h.cat_mode ? kHistoryReadings : kReadLambdaIntegrator;
    for (int i = 0; i < readings; ++i) {
        ReadingMemory& m = h.readings[i];
        if (!Answered(r, static_cast<CycleReading>(i))) {
            m.answered_now = false;
            continue;
        }
        tone |= AddReading(m, i, ValueOf(r, i), at, slot);
    }

    // The statuses come from the three fault bytes; the camshaft's and the
    // crankshaft's only with the engine known to be stopped.
    const bool bytes = Answered(r, kReadUniram1) && Answered(r, kReadUniram2) && Answered(r, kReadUniram3);
    for (int s = 0; bytes && s < kHistorySensors; ++s) {
        if (!HistorySensorCounts(h, static_cast<HistorySensor>(s))) continue;
        const std::uint8_t code = StatusOf(r, s);
        if (code == kStatusNotValidRunning) continue;
        if ((s == kSensorCamshaft || s == kSensorCrankshaft) && !Answered(r, kReadRevs)) continue;
        tone |= AddStatus(h, s, code, at);
    }

    const bool dead = c.port_lost || (c.tally.requests > 0 && c.tally.answered == 0);
    if (c.port_lost && !h.port_lost) ++h.port_losses;
    if (!c.port_lost) {
        if (c.tally.answered == c.tally.requests)
            ++h.link_whole;
        else if (c.tally.answered > 0)
            ++h.link_partly;
    }
    if (dead) ++h.link_none;
    tone |= h.link_known && dead && !h.link_dead;
    h.link_known = true;
    h.link_dead = dead;
    h.port_lost = c.port_lost;
    return tone;
}

void HistoryTrend(const History& h, int reading, int width, std::uint8_t* levels) {
    if (width > kTrendSlices) width = kTrendSlices;
    const ReadingMemory& m = h.readings[reading];
    float means[kTrendSlices];
    bool any = false;
    float low = 0, high = 0;
    for (int k = 0; k < width; ++k) {
        const std::int64_t s = h.slice - width + k;
        means[k] = 0;
        levels[k] = 0;
        if (s < 0) continue;
        const int i = static_cast<int>(s % kTrendRing);
        if (m.slice_count[i] == 0) continue;
        means[k] = m.slice_sum[i] / m.slice_count[i];
        levels[k] = 1;
        if (!any || means[k] < low) low = means[k];
        if (!any || means[k] > high) high = means[k];
        any = true;
    }
    for (int k = 0; k < width; ++k) {
        if (levels[k] == 0) continue;
        // Means of one value differ in their last bits: that is a flat line.
        const float scale = high > -low ? high : -low;
        if (high - low <= 1e-5f * (scale > 1 ? scale : 1)) {
            levels[k] = kTrendLevels / 2;
            continue;
        }
        const int level = 1 + static_cast<int>((means[k] - low) / (high - low) * (kTrendLevels - 1) + 0.5f);
        levels[k] = static_cast<std::uint8_t>(level > kTrendLevels ? kTrendLevels : level);
    }
}

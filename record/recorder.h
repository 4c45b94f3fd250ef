// The recording's life: created before the port is touched, one write per
// cycle, forced to disk at least every two seconds, at every marker, when
// the port is lost and on the way out. A write that fails stops the
// recording, never the monitor; what was written stays a valid file.
#pragma once
#include <cstddef>
#include <cstdint>

#include "decode/passes.h"

// At most this long between a row written and the row on the disk.
constexpr std::uint64_t kRecordSyncMs = 2000;
constexpr std::size_t kRecordPathSize = 512;

// Creates the recording: `target` is a new file's name, or a folder to make
// one in named after the local time. The header goes in at once. False
// with the reason in a few words in `why` (recorder_path() names the file).
bool recorder_start(const char* target, bool cat_mode, char* why, std::size_t why_size);

// Recording now (started, and no write has failed).
bool recorder_active();

// The next row carries the next marker number. Ignored unless recording.
void recorder_mark();

// Writes the row of a cycle that started at `cycle_start_ms` (on the
// monotonic clock) and got `answered` answers; `now_ms` decides the sync.
void recorder_cycle(const CycleRecord& record, unsigned answered, std::uint64_t cycle_start_ms,
                    std::uint64_t now_ms);

// Forces what was written to the disk now (the port was lost).
void recorder_sync();

// Syncs and closes: the way out.
void recorder_finish();

// Closes and removes the recording, which has no rows yet: the port never
// opened, so there was nothing to record.
void recorder_discard();

// For the title: the file (null: no recording was asked for), the markers
// so far, and why the recording stopped (null while it goes on).
const char* recorder_path();
unsigned recorder_marks();
const char* recorder_stopped_reason();

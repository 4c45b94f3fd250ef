// A recording's text: the header row, one row per cycle, the name of a file
// made in a folder, the reasons in words. Pure: no file, no clock.
// Numbers are written with a '.' whatever the user's locale: the program
// never calls setlocale, so the C library formats in the "C" locale.
#pragma once
#include <cstddef>
#include <cstdint>

#include "decode/passes.h"
#include "platform/file.h"

// Longer than any row or header, with room to spare.
constexpr std::size_t kRecordLineSize = 640;

// The header row, ending in "\n"; returns its length. "Answered (of N)"
// counts against the requests a cycle makes: 17, or 20 in cat mode. The
// last column, "Unanswered (readings)", came later than the others: the sum
// of the bits (CycleReading) of the readings that went unanswered.
std::size_t RecordHeader(char* out, std::size_t size, bool cat_mode);

// One cycle's row, ending in "\n"; returns its length. `elapsed_ms` counts
// from the start of the first cycle; `mark` is 0 or the marker's number.
std::size_t RecordRow(char* out, std::size_t size, const CycleRecord& r, bool cat_mode,
                      std::uint64_t elapsed_ms, unsigned answered, unsigned mark);

// The file a recording gets inside `folder`: named after the local start
// time, so that a monitor started at every boot never meets an old drive;
// `copy` 2 and up for a second start in the same second ("...-2.csv").
// False when the name does not fit `size`.
bool RecordingPathIn(char* out, std::size_t size, const char* folder, const LocalTime& t,
                     char separator, int copy = 0);

// Why a file could not be created or written, in a few plain words.
void FileFailureText(char* out, std::size_t size, const FileFailure& why);

// Reading a recording back (ecusim --replay, the report): one reader, so
// that both accept and refuse the same files, with the line number and the
// reason. No heap and no file calls: the caller hands over the bytes.
#pragma once
#include <cstddef>
#include <cstdint>

// The columns a recording can have, in file order. The lambda ones are in a
// recording made in cat mode only; "Unanswered (readings)" in recordings
// made since it was added.
enum RecordingColumn : int {
    kColTime, kColRevs, kColInjectors, kColAdvance, kColManifold, kColAir, kColWater, kColThrottle,
    kColBattery, kColInjectionAngle, kColVae, kColLambdaIntegrator, kColLambdaClosed,
    kColUniram1, kColUniram2, kColUniram3, kColUniramS,
    kColMixtureStatus, kColAirStatus, kColKnockStatus, kColWaterStatus, kColLambdaStatus,
    kColManifoldStatus, kColThrottleStatus, kColCamshaftStatus, kColCrankshaftStatus,
    kColAnswered, kColMark, kColUnanswered, kRecordingColumnCount
};

struct RecordingLayout {
    bool cat_mode;
    bool has_unanswered;
    int count;                                    // columns in the file
    RecordingColumn columns[kRecordingColumnCount];  // in file order
};

// One row, by column; a column the file lacks reads 0.
struct RecordedRow {
    double value[kRecordingColumnCount];
};

// Requests a cycle of the layout's mode makes: 17, 20 in cat mode.
int RecordingRequests(const RecordingLayout& layout);

// A column's header as the recorder writes it.
void RecordingHeaderOf(char* out, std::size_t size, const RecordingLayout& layout, RecordingColumn column);

// The header line (without its line end): which layout it names. False with
// the reason in `why`.
bool RecordingReadHeader(const char* line, std::size_t length, RecordingLayout* layout, char* why,
                         std::size_t why_size);

// One row line (without its line end), checked cell by cell and against the
// row before (null for the first). False with the reason in `why`.
bool RecordingReadRow(const char* line, std::size_t length, const RecordingLayout& layout,
                      const RecordedRow* previous, RecordedRow* row, char* why, std::size_t why_size);

// A whole recording, streamed: bytes come from `read` (returns how many, 0
// at the end, -1 on an error with why in its last argument); each checked
// row goes to `row` (returns false to stop, which fails the reading with the
// line of that row and the sink's reason in `outcome->why`). A last line
// without its line end (a recorder killed while writing) is left out and
// named in `cut_short_line`. A byte-order mark before the header is skipped.
struct RecordingOutcome {
    bool ok;
    RecordingLayout layout;
    std::size_t rows;            // rows handed to the sink
    std::size_t cut_short_line;  // 0: none
    char why[256];               // "line N: <reason>" when not ok
};
using RecordingByteSource = long (*)(void* context, char* buffer, std::size_t size, char* why,
                                     std::size_t why_size);
using RecordingRowSink = bool (*)(void* context, const RecordingLayout& layout, const RecordedRow& row,
                                  char* why, std::size_t why_size);
void RecordingRead(RecordingByteSource read, void* read_context, RecordingRowSink row, void* row_context,
                   RecordingOutcome* outcome);

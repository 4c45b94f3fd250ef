// tarnwickdialer --report: one self-contained HTML page of a recording, for
// any browser, offline. The recording is read twice, streamed (first the
// figures, the faults and the marks; then the data written straight into
// the page), so any length of drive fits in fixed buffers.
#pragma once
#include <cstddef>

// Writes the page of the recording `source` to the new file `target` (null:
// the recording's name with .html; a folder: that name in it), and says in one line what it wrote or
// why not. Returns the exit code: 0 written; 1 the page could not be
// written (nothing is left of it); 2 the recording cannot be read or is not
// one (nothing written).
int RunReport(const char* source, const char* target);

// The page's name for a recording: ".csv" (any case) replaced by ".html",
// or ".html" added. False when it does not fit.
bool ReportPathFor(char* out, std::size_t size, const char* source);

// Options taken out of the command line before its port and mode arguments
// are counted, wherever they stand. One row per option.
#pragma once
#include <cstddef>

struct OptionRow {
    const char* name;        // "--log": also accepted as "--log=VALUE"
    const char* value_name;  // "a file name"; null for an option without a value
    const char** value;      // where the value goes, null until then (options with a value)
    bool* given;             // set when the option is there, false until then; may be
                             // null for an option with a value
};

// Takes the options in `rows` out of argv, moving the other arguments down
// in their order; returns the new argc. -1 on a misused option (no value, a
// value where none is taken, given twice), with why in `error`.
int TakeOptions(int argc, char** argv, const OptionRow* rows, int row_count, char* error,
                std::size_t error_size);

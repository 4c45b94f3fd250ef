#include "app/options.h"

#include <cstdio>
#include <cstring>

namespace {

// The row `arg` names, with `inline_value` set after a '='; null if none.
const OptionRow* Find(const char* arg, const OptionRow* rows, int row_count,
                      const char** inline_value) {
    for (int i = 0; i < row_count; ++i) {
        const std::size_t len = std::strlen(rows[i].name);
        if (std::strncmp(arg, rows[i].name, len) != 0) continue;
        if (arg[len] == '\0') {
            *inline_value = nullptr;
            return &rows[i];
        }
        if (arg[len] == '=') {
            *inline_value = arg + len + 1;
            return &rows[i];
        }
    }
    return nullptr;
}

}  // namespace

int TakeOptions(int argc, char** argv, const OptionRow* rows, int row_count, char* error,
                std::size_t error_size) {
    int kept = argc > 0 ? 1 : 0;
    for (int i = 1; i < argc; ++i) {
        const char* inline_value = nullptr;
        const OptionRow* row = Find(argv[i], rows, row_count, &inline_value);
        if (row == nullptr) {
            argv[kept++] = argv[i];
            continue;
        }
        const bool already = row->value != nullptr ? *row->value != nullptr : *row->given;
        if (already) {
            std::snprintf(error, error_size, "%s is given twice", row->name);
            return -1;
        }
        if (row->value_name == nullptr) {
            if (inline_value != nullptr) {
                std::snprintf(error, error_size, "%s takes no value", row->name);
                return -1;
            }
        } else {
            const char* value = inline_value;
            if (value == nullptr && i + 1 < argc) value = argv[++i];
            if (value == nullptr || *value == '\0') {
                std::snprintf(error, error_size, "%s needs %s after it", row->name, row->value_name);
                return -1;
            }
            *row->value = value;
        }
        if (row->given != nullptr) *row->given = true;
    }
    if (kept < argc) argv[kept] = nullptr;
    return kept;
}

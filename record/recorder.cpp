#include "record/recorder.h"

#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "record/format.h"

namespace {

FileHandle file = nullptr;
bool cat = false;
char path[kRecordPathSize];
bool have_path = false;
bool rows_written = false;
std::uint64_t first_cycle_ms = 0;
std::uint64_t last_sync_ms = 0;
unsigned marks = 0;
bool mark_pending = false;
char stopped[96];
bool have_stopped = false;
// The bytes of the header and the whole rows: what a short write leaves past
// them is cut off, so the file always ends with a whole row.
unsigned long long whole_bytes = 0;
// Second starts in the same second into a folder try "-2" to this.
constexpr int kMostCopies = 99;

// A failed write or sync: recording ends here, the file closed as it is.
void Stop(const FileFailure& why) {
    char reason[64];
    FileFailureText(reason, sizeof reason, why);
    std::snprintf(stopped, sizeof stopped, "%s", reason);
    have_stopped = true;
    file_close(file);
    file = nullptr;
}

void Sync() {
    FileFailure why{};
    if (file != nullptr && !file_sync(file, &why)) Stop(why);
}

}  // namespace

bool recorder_start(const char* target, bool cat_mode, char* why, std::size_t why_size) {
    rows_written = false;
    marks = 0;
    mark_pending = false;
    have_stopped = false;
    const bool folder = file_is_folder(target);
    const std::size_t target_len = std::strlen(target);
    const char last = target_len > 0 ? target[target_len - 1] : '\0';
    have_path = true;
    // A name cut short would be another file: refused like one too long.
    FileFailure failure{FileError::kNameTooLong, 0};
    if (!folder && (last == '/' || last == file_separator())) {
        // Meant as a folder: one that is not there.
        std::snprintf(path, sizeof path, "%s", target);
        failure = {FileError::kNoFolder, 0};
        file = nullptr;
    } else if (folder) {
        const LocalTime now = local_time_now();
        file = nullptr;
        for (int copy = 1; file == nullptr && copy <= kMostCopies; ++copy) {
            if (!RecordingPathIn(path, sizeof path, target, now, file_separator(), copy)) break;
            file = file_create_new(path, &failure);
            if (failure.what != FileError::kExists) break;
        }
    } else {
        const bool fits = std::snprintf(path, sizeof path, "%s", target) < static_cast<int>(sizeof path);
        file = fits ? file_create_new(path, &failure) : nullptr;
    }
    char line[kRecordLineSize];
    const std::size_t len = file != nullptr ? RecordHeader(line, sizeof line, cat_mode) : 0;
    if (file != nullptr && !file_write_all(file, line, len, &failure)) {
        file_close(file);
        file_remove(path);
        file = nullptr;
    }
    if (file == nullptr) {
        FileFailureText(why, why_size, failure);
        return false;
    }
    whole_bytes = len;
    cat = cat_mode;
    return true;
}

bool recorder_active() { return file != nullptr; }

void recorder_mark() {
    if (file == nullptr || mark_pending) return;
    mark_pending = true;
    ++marks;
}

void recorder_cycle(const CycleRecord& record, unsigned answered, std::uint64_t cycle_start_ms,
                    std::uint64_t now_ms) {
    if (file == nullptr) return;
    if (!rows_written) {
        first_cycle_ms = cycle_start_ms;
        last_sync_ms = now_ms;
        rows_written = true;
    }
    char line[kRecordLineSize];
    const unsigned mark = mark_pending ? marks : 0;
    const std::size_t len =
        RecordRow(line, sizeof line, record, cat, cycle_start_ms - first_cycle_ms, answered, mark);
    mark_pending = false;
    FileFailure why{};
    if (!file_write_all(file, line, len, &why)) {
        FileFailure cut{};
        file_truncate(file, whole_bytes, &cut);
        Stop(why);
        return;
    }
    whole_bytes += len;
    // A marked row goes to the disk at once: it is the one the user wants.
    if (mark != 0 || now_ms - last_sync_ms >= kRecordSyncMs) {
        last_sync_ms = now_ms;
        Sync();
    }
}

void recorder_sync() { Sync(); }

void recorder_finish() {
    Sync();
    if (file != nullptr) file_close(file);
    file = nullptr;
    have_path = false;
    have_stopped = false;
}

void recorder_discard() {
    if (file == nullptr) return;
    file_close(file);
    file = nullptr;
    file_remove(path);
    have_path = false;
}

const char* recorder_path() { return have_path ? path : nullptr; }
unsigned recorder_marks() { return marks; }
const char* recorder_stopped_reason() { return have_stopped ? stopped : nullptr; }

// Files the program writes: a recording or a report the user asked for. One
// new file at a time, written whole, forced to disk on request. And a
// recording read back, for the report.
#pragma once
#include <cstddef>

using FileHandle = void*;  // null: no file

enum class FileError {
    kNone,
    kExists,        // a file (or anything else) already has the name
    kNoFolder,      // the folder it would go in does not exist
    kNotAFolder,    // a file stands where a folder of the path should be
    kNoPermission,
    kReadOnly,      // the disk is mounted read-only
    kNoSpace,       // disk full, or a quota reached
    kNameTooLong,
    kGone,          // the disk went away (a USB stick pulled out)
    kNoFile,        // reading: nothing has the name
    kNotAFile,      // reading: a folder, a device or a pipe has the name
    kOther,
};

struct FileFailure {
    FileError what;
    int code;  // errno or GetLastError(), for the kOther message
};

// Creates `path` as a new, empty file open for writing; never opens one that
// exists. Null on failure, with why. The file is the one the exit paths
// (signals, the Windows control handler) force to disk and close.
FileHandle file_create_new(const char* path, FileFailure* why);

// Writes all `size` bytes (binary: "\n" stays one byte); false on failure.
bool file_write_all(FileHandle file, const char* data, std::size_t size, FileFailure* why);

// Forces what was written to the disk (fsync / FlushFileBuffers).
bool file_sync(FileHandle file, FileFailure* why);

// Cuts the file back to its first `size` bytes (what a short write left
// past them goes); false on failure.
bool file_truncate(FileHandle file, unsigned long long size, FileFailure* why);

// Closes the file (no sync: call file_sync first when it matters).
void file_close(FileHandle file);

// Removes a file the program created itself and left empty.
void file_remove(const char* path);

// Opens an existing plain file for reading (never a device or a pipe: the
// report reads it twice). Null on failure, with why.
FileHandle file_open_read(const char* path, FileFailure* why);

// Reads up to `size` bytes: how many, 0 at the end, -1 on failure with why.
long file_read(FileHandle file, char* buffer, std::size_t size, FileFailure* why);

// Closes a file opened for reading.
void file_close_read(FileHandle file);

bool file_is_folder(const char* path);

// The folder separator a path is joined with on this system.
char file_separator();

struct LocalTime {
    int year, month, day, hour, minute, second;
};
LocalTime local_time_now();

// For the platform's own exit paths: forces the open file to disk and closes
// it. Async-signal-safe on POSIX; safe on the control handler's thread on
// Windows.
void file_release_from_exit_path();

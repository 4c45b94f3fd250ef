// Win32 files: CreateFileA(CREATE_NEW), WriteFile, FlushFileBuffers.
#include <windows.h>

#include "platform/file.h"

namespace {

// The file the control handler forces to disk and closes; null when none.
// Windows runs the handler on a thread of its own: whoever takes it closes it.
HANDLE volatile guarded = nullptr;

FileFailure failure(DWORD error) {
    const int code = static_cast<int>(error);
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return {FileError::kExists, code};
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_DRIVE: return {FileError::kNoFolder, code};
        case ERROR_DIRECTORY: return {FileError::kNotAFolder, code};
        case ERROR_ACCESS_DENIED: return {FileError::kNoPermission, code};
        case ERROR_WRITE_PROTECT: return {FileError::kReadOnly, code};
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return {FileError::kNoSpace, code};
        case ERROR_FILENAME_EXCED_RANGE: return {FileError::kNameTooLong, code};
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_FILE_INVALID:
        case ERROR_GEN_FAILURE: return {FileError::kGone, code};
        default: return {FileError::kOther, code};
    }
}

}  // namespace

FileHandle file_create_new(const char* path, FileFailure* why) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *why = failure(GetLastError());
        return nullptr;
    }
    // A device name (NUL, COM5, CON) opens the device itself: the name is
    // taken, and a recording into it would be lost.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        *why = {FileError::kExists, 0};
        return nullptr;
    }
    guarded = h;
    return h;
}

bool file_write_all(FileHandle file, const char* data, std::size_t size, FileFailure* why) {
    while (size > 0) {
        const DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
            *why = failure(written == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL
                                                                           : GetLastError());
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool file_sync(FileHandle file, FileFailure* why) {
    if (FlushFileBuffers(file)) return true;
    *why = failure(GetLastError());
    return false;
}

bool file_truncate(FileHandle file, unsigned long long size, FileFailure* why) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file)) return true;
    *why = failure(GetLastError());
    return false;
}

void file_close(FileHandle file) {
    if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&guarded), nullptr,
                                          file) == file)
        CloseHandle(file);
}

FileHandle file_open_read(const char* path, FileFailure* why) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *why = error == ERROR_FILE_NOT_FOUND ? FileFailure{FileError::kNoFile, static_cast<int>(error)}
                                             : failure(error);
        // A folder opens with an access error.
        if (error == ERROR_ACCESS_DENIED && file_is_folder(path)) *why = {FileError::kNotAFile, 0};
        return nullptr;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        *why = {FileError::kNotAFile, 0};
        return nullptr;
    }
    return h;
}

long file_read(FileHandle file, char* buffer, std::size_t size, FileFailure* why) {
    const DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(file, buffer, chunk, &got, nullptr)) {
        *why = failure(GetLastError());
        return -1;
    }
    return static_cast<long>(got);
}

void file_close_read(FileHandle file) { CloseHandle(file); }

void file_remove(const char* path) { DeleteFileA(path); }

bool file_is_folder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

char file_separator() { return '\\'; }

LocalTime local_time_now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void file_release_from_exit_path() {
    HANDLE h = InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&guarded), nullptr);
    if (h == nullptr) return;
    FlushFileBuffers(h);
    CloseHandle(h);
}

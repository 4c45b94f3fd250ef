// POSIX files: open(O_CREAT | O_EXCL), write, fsync, close.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "platform/file.h"

namespace {

// The file the signal handlers force to disk and close; -1 when none.
volatile int guarded_fd = -1;

int fd_of(FileHandle file) { return static_cast<int>(reinterpret_cast<std::intptr_t>(file)) - 1; }

FileFailure failure(int error) {
    switch (error) {
        case EEXIST:
        case EISDIR: return {FileError::kExists, error};
        case ENOENT: return {FileError::kNoFolder, error};
        case ENOTDIR: return {FileError::kNotAFolder, error};
        case EACCES:
        case EPERM: return {FileError::kNoPermission, error};
        case EROFS: return {FileError::kReadOnly, error};
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return {FileError::kNoSpace, error};
        case ENAMETOOLONG: return {FileError::kNameTooLong, error};
        case EIO:
        case ENXIO:
        case ENODEV: return {FileError::kGone, error};
        default: return {FileError::kOther, error};
    }
}

}  // namespace

FileHandle file_create_new(const char* path, FileFailure* why) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        *why = failure(errno);
        return nullptr;
    }
    guarded_fd = fd;
    return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd) + 1);
}

bool file_write_all(FileHandle file, const char* data, std::size_t size, FileFailure* why) {
    const int fd = fd_of(file);
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *why = failure(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool file_sync(FileHandle file, FileFailure* why) {
    if (fsync(fd_of(file)) == 0) return true;
    *why = failure(errno);
    return false;
}

bool file_truncate(FileHandle file, unsigned long long size, FileFailure* why) {
    const int fd = fd_of(file);
    for (;;) {
        if (ftruncate(fd, static_cast<off_t>(size)) == 0) return lseek(fd, 0, SEEK_END) >= 0;
        if (errno != EINTR) break;
    }
    *why = failure(errno);
    return false;
}

void file_close(FileHandle file) {
    const int fd = fd_of(file);
    if (guarded_fd == fd) guarded_fd = -1;
    close(fd);
}

FileHandle file_open_read(const char* path, FileFailure* why) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *why = errno == ENOENT ? FileFailure{FileError::kNoFile, errno} : failure(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        *why = {FileError::kNotAFile, 0};
        return nullptr;
    }
    return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd) + 1);
}

long file_read(FileHandle file, char* buffer, std::size_t size, FileFailure* why) {
    for (;;) {
        const ssize_t n = read(fd_of(file), buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        *why = failure(errno);
        return -1;
    }
}

void file_close_read(FileHandle file) { close(fd_of(file)); }

void file_remove(const char* path) { unlink(path); }

bool file_is_folder(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

char file_separator() { return '/'; }

LocalTime local_time_now() {
    const time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

void file_release_from_exit_path() {
    const int fd = guarded_fd;
    if (fd < 0) return;
    guarded_fd = -1;
    const int saved_errno = errno;
    fsync(fd);
    close(fd);
    errno = saved_errno;
}

#include "brenvo/platform/system/FileOps.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace brenvo::detail {

FileOps::~FileOps() = default;

int FileOps::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
ssize_t FileOps::read(int fd, void* buffer, size_t size) {
    return ::read(fd, buffer, size);
}
ssize_t FileOps::write(int fd, const void* buffer, size_t size) {
    return ::write(fd, buffer, size);
}
int FileOps::fsync(int fd) {
    return ::fsync(fd);
}
int FileOps::close(int fd) {
    return ::close(fd);
}
int FileOps::fstat(int fd, struct stat* info) {
    return ::fstat(fd, info);
}
int FileOps::stat(const char* path, struct stat* info) {
    return ::stat(path, info);
}
int FileOps::flock(int fd, int operation) {
    return ::flock(fd, operation);
}
int FileOps::mkdir(const char* path, mode_t mode) {
    return ::mkdir(path, mode);
}
int FileOps::rename(const char* from, const char* to) {
    return ::rename(from, to);
}
int FileOps::unlink(const char* path) {
    return ::unlink(path);
}

int FileOps::renameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    // File systems without the flag: a hard link cannot replace either.
    if (::link(from, to) != 0) {
        return -1;
    }
    return ::unlink(from);
}

FileOps& FileOps::system() {
    static FileOps* ops = new FileOps();
    return *ops;
}

} // namespace brenvo::detail

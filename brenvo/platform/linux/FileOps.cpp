#include "brenvo/platform/linux/FileOps.h"

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
int FileOps::openat(int folder, const char* name, int flags, mode_t mode) {
    return ::openat(folder, name, flags, mode);
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
int FileOps::fstatat(int folder, const char* name, struct stat* info, int flags) {
    return ::fstatat(folder, name, info, flags);
}
int FileOps::flock(int fd, int operation) {
    return ::flock(fd, operation);
}
int FileOps::mkdir(const char* path, mode_t mode) {
    return ::mkdir(path, mode);
}
int FileOps::renameat(int folder, const char* from, const char* to) {
    return ::renameat(folder, from, folder, to);
}
int FileOps::unlinkat(int folder, const char* name) {
    return ::unlinkat(folder, name, 0);
}

int FileOps::renameNoReplace(int folder, const char* from, const char* to) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    // File systems without the flag: a hard link cannot replace either.
    if (::linkat(folder, from, folder, to, 0) != 0) {
        return -1;
    }
    return ::unlinkat(folder, from, 0);
}

FileOps& FileOps::system() {
    static FileOps* ops = new FileOps();
    return *ops;
}

} // namespace brenvo::detail

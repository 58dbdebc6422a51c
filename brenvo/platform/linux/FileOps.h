// The file-system calls that the preferences store makes, behind one seam so that tests can make
// any single call fail and check that nothing is lost.
#pragma once

#include "brenvo/Export.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace brenvo::detail {

// Each method behaves as the system call of the same name: a result of -1 with errno set on
// failure. The ...at calls name a file inside the folder open as `folder`.
class BRENVO_EXPORT FileOps {
public:
    virtual ~FileOps();

    virtual int open(const char* path, int flags, mode_t mode);
    virtual int openat(int folder, const char* name, int flags, mode_t mode);
    virtual ssize_t read(int fd, void* buffer, size_t size);
    virtual ssize_t write(int fd, const void* buffer, size_t size);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int fstat(int fd, struct stat* info);
    virtual int fstatat(int folder, const char* name, struct stat* info, int flags);
    virtual int flock(int fd, int operation);
    virtual int mkdir(const char* path, mode_t mode);
    // Replaces `to` if it exists.
    virtual int renameat(int folder, const char* from, const char* to);
    // Fails with EEXIST instead of replacing `to`.
    virtual int renameNoReplace(int folder, const char* from, const char* to);
    virtual int unlinkat(int folder, const char* name);

    // The real calls.
    static FileOps& system();
};

} // namespace brenvo::detail

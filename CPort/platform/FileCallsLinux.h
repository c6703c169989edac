#pragma once

// The system calls that decide whether a file replacement reached the disk,
// in one table, so that a test can make one of them fail the way a full,
// failing or remote disk does, which no ordinary test setup can.

#include <sys/types.h>

namespace Platform {

struct TFileCalls {
    ssize_t (*Write)(int fd, const void* data, size_t size);
    int (*Fchown)(int fd, uid_t owner, gid_t group);
    int (*Fchmod)(int fd, mode_t mode);
    int (*Fdatasync)(int fd);
    int (*Close)(int fd);
    int (*Rename)(const char* from, const char* to);
};

// The table a replacement uses: the system's own calls unless a test put
// others in.
TFileCalls& FileCalls();

} // namespace Platform

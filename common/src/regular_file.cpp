// Opening user-named files without blocking: readers take regular files only, writers regular files and
// character devices.
#include "norvacommon/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/** Closes fd keeping the errno that explains the refusal; -1 for the caller to return. */
int refuse(int fd, int err) {
    ::close(fd);
    errno = err;
    return -1;
}

/** Makes reads and writes of fd blocking again once the kind of file is known. */
bool clearNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

FILE *streamOf(int fd, const char *mode) {
    if (fd < 0)
        return nullptr;
    FILE *f = ::fdopen(fd, mode);
    if (f == nullptr) {
        const int err = errno;
        ::close(fd);
        errno = err;
    }
    return f;
}

} // namespace

extern "C" {

int QOR_OpenRegularFd(const char *path) {
    if (path == nullptr) {
        errno = EFAULT;
        return -1;
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return refuse(fd, errno);
    if (S_ISDIR(st.st_mode))
        return refuse(fd, EISDIR);
    if (!S_ISREG(st.st_mode))
        return refuse(fd, EINVAL);
    if (!clearNonBlocking(fd))
        return refuse(fd, errno);
    return fd;
}

FILE *QOR_OpenRegularFile(const char *path, const char *mode) {
    if (mode == nullptr || mode[0] != 'r' || std::strchr(mode, '+') != nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return streamOf(QOR_OpenRegularFd(path), mode);
}

FILE *QOR_CreateFile(const char *path, const char *mode) {
    if (path == nullptr) {
        errno = EFAULT;
        return nullptr;
    }
    if (mode == nullptr || mode[0] != 'w' || std::strchr(mode, '+') != nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    // Not truncated at the open: what is there is looked at first. A FIFO without a reader fails the open at once.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        fd = refuse(fd, errno);
    else if (S_ISDIR(st.st_mode))
        fd = refuse(fd, EISDIR);
    else if (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0)
        fd = refuse(fd, errno);
    else if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode))
        fd = refuse(fd, EINVAL);
    else if (!clearNonBlocking(fd))
        fd = refuse(fd, errno);
    return streamOf(fd, mode);
}

int QOR_IsNotAFileError(int err) { return err == EISDIR || err == EINVAL; }

} // extern "C"

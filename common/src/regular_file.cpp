// Opening user-named files without blocking: readers take regular files only, writers regular files and
// character devices.
#include "norvacommon/regular_file.h"

#include <cerrno>
#include <cstdio>
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

int QOR_CloseCreatedFile(FILE *f, const char *path, int discard) {
    if (f == nullptr) {
        errno = EFAULT;
        return -1;
    }
    // The stream's error flag keeps a failed write that a caller did not look at; the flush and the close report
    // the data still buffered.
    int err = ::ferror(f) ? EIO : 0;
    errno = 0;
    if (std::fflush(f) != 0 && err == 0)
        err = errno != 0 ? errno : EIO;
    struct stat written;
    const bool regular = ::fstat(::fileno(f), &written) == 0 && S_ISREG(written.st_mode);
    errno = 0;
    if (std::fclose(f) != 0 && err == 0)
        err = errno != 0 ? errno : EIO;
    if ((err != 0 || discard != 0) && regular && path != nullptr) {
        // Only the file written: the path may have been given to another file since.
        struct stat now;
        if (::lstat(path, &now) == 0 && now.st_dev == written.st_dev && now.st_ino == written.st_ino)
            ::unlink(path);
    }
    if (err != 0) {
        errno = err;
        return -1;
    }
    if (discard != 0) {
        errno = ECANCELED;
        return -1;
    }
    return 0;
}

int QOR_IsNotAFileError(int err) { return err == EISDIR || err == EINVAL; }

} // extern "C"

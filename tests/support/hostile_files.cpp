#include "support/hostile_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace norva_test {
namespace {

/** The user and group ids a child reads as when it must not be root ("nobody" on Debian). */
constexpr uid_t kUnprivilegedUser = 65534;
constexpr gid_t kUnprivilegedGroup = 65534;

bool dropPrivileges() {
    if (geteuid() != 0)
        return true;
    if (setgroups(0, nullptr) != 0 || setgid(kUnprivilegedGroup) != 0 || setuid(kUnprivilegedUser) != 0)
        return false;
    // A process that changed its user loses /proc/self to root; the sanitizers read it.
    prctl(PR_SET_DUMPABLE, 1);
    return true;
}

/** Sets up a new child: standard error (and output, for programs) kept out, privileges, file-size limit, timer. */
bool prepareChild(unsigned seconds, bool unprivileged, long long fileLimit, bool program) {
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        if (program) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
        }
    }
    if (unprivileged && !dropPrivileges())
        return false;
    if (fileLimit >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return false;
    }
    alarm(seconds); // a child still running then is killed by the signal (the timer outlives an exec)
    return true;
}

/** Waits for the child: its exit status, or -1 when a signal ended it. */
int waitChild(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool runChild(unsigned seconds, bool unprivileged, const std::function<bool()> &fn, long long fileLimit = -1) {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (!prepareChild(seconds, unprivileged, fileLimit, false))
            _exit(2);
        _exit(fn() ? 0 : 1);
    }
    return waitChild(child) == 0;
}

/** True when the process, or a child without privileges when it is root, cannot open path for reading. */
bool unreadableTo(const std::string &path, bool unprivileged) {
    return runChild(5, unprivileged, [&] {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0)
            close(fd);
        return fd < 0 && errno == EACCES;
    });
}

} // namespace

HostileFiles::HostileFiles() {
    char pattern[] = "/tmp/norva-hostile-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return;
    folder_ = pattern;
    // Others may pass through the folder, so that only the unreadable file's own mode keeps them out of it.
    chmod(folder_.c_str(), 0711);
    const std::string dir = folder_ + "/folder";
    const std::string fifo = folder_ + "/fifo";
    const std::string empty = folder_ + "/empty";
    const std::string unreadable = folder_ + "/unreadable";
    all_.push_back({"missing file", folder_ + "/missing", MISSING, false});
    if (mkdir(dir.c_str(), 0700) == 0)
        entries_.push_back({"directory", dir, DIRECTORY, false});
    if (mkfifo(fifo.c_str(), 0600) == 0)
        entries_.push_back({"FIFO", fifo, FIFO, false});
    entries_.push_back({"endless device", "/dev/zero", ENDLESS_DEVICE, false});
    all_.insert(all_.end(), entries_.begin(), entries_.end());
    int fd = open(empty.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
        close(fd);
        all_.push_back({"empty file", empty, EMPTY, false});
    }
    // An unreadable file that holds text, so that only its mode makes it unreadable.
    fd = open(unreadable.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
        const char text[] = "LSH\n-Board_reset_need 1\n";
        const bool written = write(fd, text, sizeof text - 1) == static_cast<ssize_t>(sizeof text - 1);
        close(fd);
        const bool root = geteuid() == 0;
        if (written && chmod(unreadable.c_str(), 0) == 0 && unreadableTo(unreadable, root))
            all_.push_back({"unreadable file", unreadable, UNREADABLE, root});
        else
            skipped_ = root ? "the unreadable file: root reads every file and cannot give up its privileges here"
                            : "the unreadable file: it stayed readable";
    }
}

HostileFiles::~HostileFiles() {
    if (!folder_.empty())
        std::system(("rm -rf '" + folder_ + "'").c_str());
}

bool ReturnsTrueWithin(unsigned seconds, const std::function<bool()> &fn) { return runChild(seconds, false, fn); }

bool ReturnsTrueWithinFileLimit(unsigned seconds, long long fileLimit, const std::function<bool()> &fn) {
    return runChild(seconds, false, fn, fileLimit);
}

int ExitStatusWithin(unsigned seconds, const std::vector<std::string> &argv, bool unprivileged, long long fileLimit) {
    if (argv.empty())
        return -1;
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (!prepareChild(seconds, unprivileged, fileLimit, true))
            _exit(126);
        execv(args[0], args.data());
        _exit(127);
    }
    return waitChild(child);
}

bool ReturnsTrueWithin(unsigned seconds, const HostileFiles::Entry &entry,
                       const std::function<bool(const char *path)> &fn) {
    return runChild(seconds, entry.unprivileged, [&] { return fn(entry.path.c_str()); });
}

} // namespace norva_test

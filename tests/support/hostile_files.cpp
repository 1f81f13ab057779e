#include "support/hostile_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace norva_test {

HostileFiles::HostileFiles() {
    char pattern[] = "/tmp/norva-hostile-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return;
    folder_ = pattern;
    const std::string dir = folder_ + "/folder";
    const std::string fifo = folder_ + "/fifo";
    if (mkdir(dir.c_str(), 0700) == 0)
        entries_.push_back({"directory", dir});
    if (mkfifo(fifo.c_str(), 0600) == 0)
        entries_.push_back({"FIFO", fifo});
    entries_.push_back({"endless device", "/dev/zero"});
}

HostileFiles::~HostileFiles() {
    if (!folder_.empty())
        std::system(("rm -rf '" + folder_ + "'").c_str());
}

bool ReturnsTrueWithin(unsigned seconds, const std::function<bool()> &fn) {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDERR_FILENO);
        alarm(seconds); // a child still running then is killed by the signal
        _exit(fn() ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace norva_test

// A program that exits (exit(), not a return through a stopped pipeline) while its norvasrc streams on a board
// sensor: the streaming thread and the image processor's workers still run while static state is destroyed.
// The program ends with the status it gave and without a sanitizer report.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gst/check/gstcheck.h>

namespace {

struct ExitCase {
    const char *sensor;
    int status;
};

const ExitCase kExitCases[] = {{"OV4689_0", 0}, {"OV4689_0", 7}, {"IMX219_0", 0}};

} // namespace

GST_START_TEST(test_exit_while_playing) {
    const ExitCase &c = kExitCases[__i__];
    const std::string status = std::to_string(c.status);
    const gchar *argv[] = {NORVA_EXIT_PLAYING, c.sensor, NORVA_REFERENCE_SETUP, status.c_str(), nullptr};
    g_setenv("NORVA_SIM_SENSORS", c.sensor, TRUE);
    GPid pid = 0;
    gint errFd = -1;
    GError *error = nullptr;
    fail_unless(
        g_spawn_async_with_pipes(nullptr, const_cast<gchar **>(argv), nullptr,
                                 static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL),
                                 nullptr, nullptr, &pid, nullptr, nullptr, &errFd, &error),
        "%s", error != nullptr ? error->message : "");
    // Standard error until the program ends; a program that hangs at exit is killed after a minute.
    std::string text;
    const gint64 deadline = g_get_monotonic_time() + 60 * G_TIME_SPAN_SECOND;
    bool hung = false;
    for (;;) {
        pollfd p = {errFd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char chunk[4096];
            const ssize_t n = read(errFd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            text.append(chunk, static_cast<size_t>(n));
        } else if (g_get_monotonic_time() > deadline) {
            hung = true;
            kill(pid, SIGKILL);
            break;
        }
    }
    close(errFd);
    int wait = 0;
    fail_unless(waitpid(pid, &wait, 0) == pid);
    g_spawn_close_pid(pid);
    fail_if(hung, "%s: the program did not end: %s", c.sensor, text.c_str());
    fail_unless(text.find("Sanitizer") == std::string::npos, "%s: %s", c.sensor, text.c_str());
    fail_unless(WIFEXITED(wait), "%s: the program did not exit (wait status %d): %s", c.sensor, wait, text.c_str());
    fail_unless_equals_int(WEXITSTATUS(wait), c.status);
}
GST_END_TEST;

static Suite *norvasrc_exit_suite(void) {
    Suite *s = suite_create("norvasrc_exit");
    TCase *tc = tcase_create("exit");
    tcase_set_timeout(tc, 120);
    suite_add_tcase(s, tc);
    tcase_add_loop_test(tc, test_exit_while_playing, 0, G_N_ELEMENTS(kExitCases));
    return s;
}

GST_CHECK_MAIN(norvasrc_exit);

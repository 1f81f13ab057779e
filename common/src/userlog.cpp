#include "norvacommon/userlog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>

namespace {

// Any thread may log while another changes the level, so the level is atomic.
std::atomic<int> g_level{LOG_LEVEL_INFO};

constexpr const char *kTag = "userlog";

// Formats into the caller's buffer. A message cut at the buffer's end keeps a closing newline
// when the original had one, so the next line is not glued to it.
void formatMessage(char (&buf)[LOG_MESSAGE_SIZE], const char *format, va_list args) {
    int n = std::vsnprintf(buf, sizeof(buf), format, args);
    if (n < 0) {
        buf[0] = '\0';
        return;
    }
    if (static_cast<size_t>(n) >= sizeof(buf)) {
        const size_t fmtLen = std::strlen(format);
        if (fmtLen > 0 && format[fmtLen - 1] == '\n') {
            buf[sizeof(buf) - 2] = '\n';
        }
    }
}

bool wanted(int messageLevel) { return g_level.load(std::memory_order_relaxed) >= messageLevel; }

} // namespace

#define NORVA_LOG_BODY(level)                                                                                          \
    if (!wanted(level))                                                                                                \
        return;                                                                                                        \
    char msg[LOG_MESSAGE_SIZE];                                                                                        \
    va_list args;                                                                                                      \
    va_start(args, format);                                                                                            \
    formatMessage(msg, format, args);                                                                                  \
    va_end(args)

void LOG_Error(const char *function, unsigned line, const char *log_tag, const char *format, ...) {
    NORVA_LOG_BODY(LOG_LEVEL_ERROR);
    std::fprintf(stderr, "ERROR [%s]: %s():%u %s", log_tag, function, line, msg);
}

void LOG_Warning(const char *function, unsigned line, const char *log_tag, const char *format, ...) {
    (void)line;
    NORVA_LOG_BODY(LOG_LEVEL_WARNING);
    std::fprintf(stderr, "WARNING [%s]: %s() %s", log_tag, function, msg);
}

void LOG_Info(const char *function, unsigned line, const char *log_tag, const char *format, ...) {
    (void)line;
    NORVA_LOG_BODY(LOG_LEVEL_INFO);
    std::fprintf(stdout, "INFO [%s]: %s() %s", log_tag, function, msg);
}

void LOG_Debug(const char *function, unsigned line, const char *log_tag, const char *format, ...) {
    NORVA_LOG_BODY(LOG_LEVEL_DEBUG);
    std::fprintf(stderr, "DEBUG [%s]: %s():%u %s", log_tag, function, line, msg);
}

void LOG_Perf(const char *function, unsigned line, const char *log_tag, const char *format, ...) {
    (void)line;
    if (!wanted(LOG_LEVEL_PERF))
        return;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    char msg[LOG_MESSAGE_SIZE];
    va_list args;
    va_start(args, format);
    formatMessage(msg, format, args);
    va_end(args);
    std::fprintf(stdout, "PERF [%s]: %s() %lu:%06lu %s", log_tag, function, static_cast<unsigned long>(tv.tv_sec),
                 static_cast<unsigned long>(tv.tv_usec), msg);
}

void LOG_SetLevel(int level) {
    g_level.store(level < 0 ? LOG_LEVEL_SILENCE : level, std::memory_order_relaxed);
    LOG_ReadLogLevelFromEnv();
}

int LOG_GetLevel(void) { return g_level.load(std::memory_order_relaxed); }

void LOG_ReadLogLevelFromEnv(void) {
    const char *env = std::getenv("NORVA_LOG_LEVEL");
    if (env == nullptr)
        return;
    // Base 10 with an optional sign, stopping at the first non-digit; empty or non-numeric gives 0.
    const long value = std::strtol(env, nullptr, 10);
    if (value < LOG_LEVEL_SILENCE || value > LOG_LEVEL_PERF) {
        QOR_LOG_INFO(kTag, "Failed to apply log level %d: value is out of range [%d; %d]\n", static_cast<int>(value),
                     LOG_LEVEL_SILENCE, LOG_LEVEL_PERF);
        return;
    }
    g_level.store(static_cast<int>(value), std::memory_order_relaxed);
    QOR_LOG_INFO(kTag, "Apply log level from the NORVA_LOG_LEVEL environment variable = %d\n", static_cast<int>(value));
}

namespace {
// Applies the environment once when the library is loaded.
struct LogLevelFromEnvAtLoad {
    LogLevelFromEnvAtLoad() { LOG_ReadLogLevelFromEnv(); }
} g_logLevelFromEnvAtLoad;
} // namespace

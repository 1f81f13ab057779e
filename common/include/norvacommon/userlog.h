#ifndef NORVA_USERLOG_H
#define NORVA_USERLOG_H

/* The one logger of the stack. Messages carry their own "\n". */

enum LOG_LEVEL {
    LOG_LEVEL_SILENCE = -1,
    LOG_LEVEL_ERROR = 0,
    LOG_LEVEL_WARNING = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_DEBUG = 3,
    LOG_LEVEL_PERF = 4,
    LOG_LEVEL_MAX = 5, /* count of levels, never a level in use */
};

/** Size of the formatting buffer; longer messages are cut. */
#define LOG_MESSAGE_SIZE 512

#if defined(__GNUC__)
#define LOG_PRINTF_FMT(a, b) __attribute__((format(printf, a, b)))
#else
#define LOG_PRINTF_FMT(a, b)
#endif

void LOG_Error(const char *function, unsigned line, const char *log_tag, const char *format, ...) LOG_PRINTF_FMT(4, 5);
void LOG_Warning(const char *function, unsigned line, const char *log_tag, const char *format, ...)
    LOG_PRINTF_FMT(4, 5);
void LOG_Info(const char *function, unsigned line, const char *log_tag, const char *format, ...) LOG_PRINTF_FMT(4, 5);
void LOG_Debug(const char *function, unsigned line, const char *log_tag, const char *format, ...) LOG_PRINTF_FMT(4, 5);
void LOG_Perf(const char *function, unsigned line, const char *log_tag, const char *format, ...) LOG_PRINTF_FMT(4, 5);

/** Sets the level (negative becomes -1), then applies NORVA_LOG_LEVEL again so it wins. */
void LOG_SetLevel(int level);
int LOG_GetLevel(void);
/** Applies NORVA_LOG_LEVEL when set; runs once at load time and from LOG_SetLevel. */
void LOG_ReadLogLevelFromEnv(void);

/* Convenience forms used throughout the stack: the caller's function and line, a tag, a format. */
#define QOR_LOG_ERROR(tag, ...) LOG_Error(__func__, __LINE__, (tag), __VA_ARGS__)
#define QOR_LOG_WARNING(tag, ...) LOG_Warning(__func__, __LINE__, (tag), __VA_ARGS__)
#define QOR_LOG_INFO(tag, ...) LOG_Info(__func__, __LINE__, (tag), __VA_ARGS__)
#define QOR_LOG_DEBUG(tag, ...) LOG_Debug(__func__, __LINE__, (tag), __VA_ARGS__)
#define QOR_LOG_PERF(tag, ...) LOG_Perf(__func__, __LINE__, (tag), __VA_ARGS__)

#endif /* NORVA_USERLOG_H */

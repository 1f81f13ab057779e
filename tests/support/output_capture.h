#ifndef NORVA_TEST_OUTPUT_CAPTURE_H
#define NORVA_TEST_OUTPUT_CAPTURE_H

// What a call prints, for tests that check messages.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace norva_test {

/** Runs f and returns what it wrote on standard error. */
template <typename F> std::string stderrOf(F &&f) {
    testing::internal::CaptureStderr();
    f();
    fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

/** Runs f and returns what it wrote on standard output. */
template <typename F> std::string stdoutOf(F &&f) {
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

/** Runs f and returns what it logged: standard output (information) followed by standard error. */
template <typename F> std::string logOf(F &&f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    fflush(stdout);
    fflush(stderr);
    std::string out = testing::internal::GetCapturedStdout();
    return out + testing::internal::GetCapturedStderr();
}

inline bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

} // namespace norva_test

#endif

#ifndef NORVA_TEST_SCOPED_ENV_H
#define NORVA_TEST_SCOPED_ENV_H

#include <string>

namespace norva_test {

/** Sets (or, with a null value, unsets) an environment variable and restores it on destruction. */
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_;
};

} // namespace norva_test

#endif

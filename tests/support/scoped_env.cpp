#include "support/scoped_env.h"

#include <cstdlib>

namespace norva_test {

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name), hadOld_(false) {
    if (const char *old = std::getenv(name)) {
        old_ = old;
        hadOld_ = true;
    }
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

} // namespace norva_test

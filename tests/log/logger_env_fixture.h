// Test fixture: every logger variable starts unset, and each test loads its own copy of
// the library, so the first log site of the test runs the default initialisation.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "log/log_lines.h"
#include "log/logger_copy.h"

namespace logtest {

class LoggerTest : public ::testing::Test {
  protected:
    // Applies before the copy's first log site (the environment is read lazily).
    void set_env(const char *name, const char *value) { setenv(name, value, 1); }

    EnvVar api_level_{"VEM_API_LOG_LEVEL", nullptr};
    EnvVar plain_api_level_{"API_LOG_LEVEL", nullptr};
    EnvVar thread_safe_{"VEM_LOG_THREAD_SAFE", nullptr};
    EnvVar plain_thread_safe_{"LOG_THREAD_SAFE", nullptr};
    LoggerCopy lib;
};

} // namespace logtest

// A private copy of the built libsentrel, loaded with dlopen. Every copy is a new file,
// so the dynamic loader maps it anew and it starts with a fresh logger state; two copies
// in one process keep separate states, as a host and a plug-in do. The test program must
// not link libsentrel itself: a copy resolves the exported names through the global scope
// first, and would bind to that library's definitions instead of its own.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "support/vem_logger.h"

namespace logtest {

class LoggerCopy {
  public:
    LoggerCopy() {
        char path[] = "/tmp/vem-log-copy-XXXXXX.so";
        int out = mkstemps(path, 3);
        if (out < 0)
            throw std::runtime_error("mkstemps failed");
        int in = open(SENTREL_LIBRARY_PATH, O_RDONLY);
        if (in < 0)
            throw std::runtime_error("cannot open " SENTREL_LIBRARY_PATH);
        char buffer[65536];
        ssize_t got;
        while ((got = read(in, buffer, sizeof buffer)) > 0)
            if (write(out, buffer, got) != got)
                throw std::runtime_error("copy failed");
        close(in);
        close(out);
        path_ = path;
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr)
            throw std::runtime_error(dlerror());
        resolve(level, "vem_log_level");
        resolve(registered, "is_registered");
        resolve(log, "_vem_log");
        resolve(dump_timestamp, "vem_dump_timestamp_logger");
        resolve(level_string, "vem_priority_level_string_logger");
        resolve(set_log_level, "vem_set_log_level");
        resolve(set_log_func, "vem_set_log_func");
        resolve(get_log_func, "vem_get_log_func");
        resolve(init_stderr, "vem_init_stderr_logger");
        resolve(init_default, "__vem_init_logger_default");
        resolve(cleanup, "vem_logger_cleanup_mutex_exit_handler");
        resolve(init_syslog, "vem_init_syslog_logger");
        resolve(init_file, "vem_init_file_logger");
        resolve(close_logger, "vem_close_logger");
        resolve(get_ctx, "vem_get_logger_ctx");
        resolve(register_logger, "_vem_register_logger");
        resolve(destroy_ctx, "vem_destroy_logger_ctx");
        resolve(hex, "log_hex");
    }
    ~LoggerCopy() { unload(); }
    LoggerCopy(const LoggerCopy &) = delete;
    LoggerCopy &operator=(const LoggerCopy &) = delete;

    // Unloads the copy (running its unload handlers) and removes its file.
    void unload() {
        if (handle_ != nullptr)
            dlclose(handle_);
        handle_ = nullptr;
        if (!path_.empty())
            unlink(path_.c_str());
        path_.clear();
    }
    const std::string &path() const { return path_; }

    // The copy's state as a record (kind, file, func, level, mutex).
    vem_logger_ctx_t state() {
        vem_logger_ctx_t *ctx = get_ctx();
        vem_logger_ctx_t copy = *ctx;
        destroy_ctx(ctx);
        return copy;
    }

    int32_t *level = nullptr;
    bool *registered = nullptr;
    decltype(&_vem_log) log = nullptr;
    decltype(&vem_dump_timestamp_logger) dump_timestamp = nullptr;
    decltype(&vem_priority_level_string_logger) level_string = nullptr;
    decltype(&vem_set_log_level) set_log_level = nullptr;
    decltype(&vem_set_log_func) set_log_func = nullptr;
    decltype(&vem_get_log_func) get_log_func = nullptr;
    decltype(&vem_init_stderr_logger) init_stderr = nullptr;
    decltype(&__vem_init_logger_default) init_default = nullptr;
    decltype(&vem_logger_cleanup_mutex_exit_handler) cleanup = nullptr;
    decltype(&vem_init_syslog_logger) init_syslog = nullptr;
    decltype(&vem_init_file_logger) init_file = nullptr;
    decltype(&vem_close_logger) close_logger = nullptr;
    decltype(&vem_get_logger_ctx) get_ctx = nullptr;
    decltype(&_vem_register_logger) register_logger = nullptr;
    decltype(&vem_destroy_logger_ctx) destroy_ctx = nullptr;
    decltype(&log_hex) hex = nullptr;

  private:
    template <typename T> void resolve(T &slot, const char *name) {
        slot = reinterpret_cast<T>(dlsym(handle_, name));
        if (slot == nullptr)
            throw std::runtime_error(std::string("missing symbol ") + name);
    }
    void *handle_ = nullptr;
    std::string path_;
};

} // namespace logtest

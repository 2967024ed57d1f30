#include "engine/core/engine.h"

#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "engine/core/plugin_registry.h"
#include "engine/core/properties.h"

namespace engine {

// epoll user data of the two descriptors that are not inputs.
static char wake_marker;
static char timer_marker;

static void set_pair(std::vector<std::pair<std::string, std::string>> &props, const char *key,
                     const char *value) {
    for (auto &p : props)
        if (strcasecmp(p.first.c_str(), key) == 0) {
            p.second = value;
            return;
        }
    props.emplace_back(key, value);
}

const char *InputInstance::get(const char *key) const {
    for (auto &p : properties)
        if (strcasecmp(p.first.c_str(), key) == 0)
            return p.second.c_str();
    const PropertyDef *d = plugin ? find_property(plugin->properties, key) : nullptr;
    if (!d)
        d = find_property(common_input_properties(), key);
    return d ? d->default_value : nullptr;
}

bool InputInstance::get_size(const char *key, uint64_t *out) const {
    const char *v = get(key);
    return v && parse_size(v, out);
}

bool input_over_limit(const InputInstance *ins) {
    return ins->buffer && ins->buffer->over_limit();
}

std::string &input_open_chunk(InputInstance *ins) {
    return ins->buffer->open(ins->tag);
}

void input_commit(InputInstance *ins, size_t size_before, size_t records) {
    size_t now = ins->buffer->open(ins->tag).size();
    ins->buffer->commit(ins->tag, now - size_before, records);
}

Engine::Engine() {
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
}

Engine::~Engine() {
    stop();
    for (auto &in : inputs_)
        if (in->ins.plugin->exit)
            in->ins.plugin->exit(&in->ins);
    outputs_.clear();
    inputs_.clear();
    for (int fd : {wake_fd_, epoll_fd_, timer_fd_})
        if (fd >= 0)
            close(fd);
}

bool Engine::configurable(const char *what, const char *key, const char *value) const {
    if (state_ == State::Configuring)
        return true;
    log(LogLevel::Error, "%s: property '%s' = '%s' refused: the engine was already started", what,
        key, value);
    return false;
}

int Engine::service_set(const char *key, const char *value) {
    if (!configurable("service", key, value))
        return -1;
    const PropertyDef *tables[] = {service_properties()};
    std::string why;
    if (!check_property(tables, 1, key, value, &why)) {
        log(LogLevel::Error, "service: %s '%s' = '%s'", why.c_str(), key, value);
        return -1;
    }
    if (strcasecmp(key, "Flush") == 0)
        parse_double(value, &flush_seconds_);
    else if (strcasecmp(key, "Grace") == 0)
        parse_int(value, &grace_seconds_);
    else if (strcasecmp(key, "Log_Level") == 0)
        log_threshold().store(parse_log_level(value), std::memory_order_relaxed);
    return 0;
}

int Engine::input(const char *name, void *data) {
    if (state_ != State::Configuring) {
        log(LogLevel::Error, "flb_input: input '%s' refused: the engine was already started", name);
        return -1;
    }
    const InputPlugin *plugin = find_input_plugin(name);
    if (!plugin) {
        log(LogLevel::Error, "flb_input: unknown input plugin '%s'", name);
        return -1;
    }
    int n = 0;
    for (auto &in : inputs_)
        n += in->ins.plugin == plugin;
    auto entry = std::make_unique<InputEntry>();
    entry->ins.plugin = plugin;
    entry->ins.name = std::string(plugin->name) + "." + std::to_string(n);
    entry->ins.tag = entry->ins.name;
    entry->ins.engine = this;
    if (plugin->init && plugin->init(&entry->ins, data) != 0) {
        log(LogLevel::Error, "flb_input: input '%s' could not be created", name);
        return -1;
    }
    inputs_.push_back(std::move(entry));
    return static_cast<int>(inputs_.size() - 1);
}

int Engine::input_set(int handle, const char *key, const char *value) {
    if (handle < 0 || static_cast<size_t>(handle) >= inputs_.size()) {
        log(LogLevel::Error, "flb_input_set: no input with handle %d (property '%s' = '%s')",
            handle, key, value);
        return -1;
    }
    InputInstance &ins = inputs_[handle]->ins;
    if (!configurable(ins.name.c_str(), key, value))
        return -1;
    const PropertyDef *tables[] = {ins.plugin->properties, common_input_properties()};
    std::string why;
    if (!check_property(tables, 2, key, value, &why)) {
        log(LogLevel::Error, "input %s: %s '%s' = '%s'", ins.name.c_str(), why.c_str(), key, value);
        return -1;
    }
    if (strcasecmp(key, "Tag") == 0)
        ins.tag = value;
    else if (strcasecmp(key, "Alias") == 0)
        ins.name = value;
    set_pair(ins.properties, key, value);
    return 0;
}

int Engine::output(const char *name) {
    if (state_ != State::Configuring) {
        log(LogLevel::Error, "flb_output: output '%s' refused: the engine was already started",
            name);
        return -1;
    }
    const OutputPlugin *plugin = find_output_plugin(name);
    if (!plugin) {
        log(LogLevel::Error, "flb_output: unknown output plugin '%s'", name);
        return -1;
    }
    int n = 0;
    for (auto &out : outputs_)
        n += out->instance().plugin == plugin;
    outputs_.push_back(std::make_unique<OutputRunner>(plugin, std::string(plugin->name) + "." +
                                                                  std::to_string(n)));
    return static_cast<int>(outputs_.size() - 1);
}

int Engine::output_set(int handle, const char *key, const char *value) {
    if (handle < 0 || static_cast<size_t>(handle) >= outputs_.size()) {
        log(LogLevel::Error, "flb_output_set: no output with handle %d (property '%s' = '%s')",
            handle, key, value);
        return -1;
    }
    Instance &ins = outputs_[handle]->instance();
    if (!configurable(ins.name.c_str(), key, value))
        return -1;
    const PropertyDef *tables[] = {ins.plugin->properties, common_output_properties()};
    std::string why;
    if (!check_property(tables, 2, key, value, &why)) {
        log(LogLevel::Error, "output %s: %s '%s' = '%s'", ins.name.c_str(), why.c_str(), key,
            value);
        return -1;
    }
    if (ins.plugin->check_property)
        if (const char *reason = ins.plugin->check_property(key, value)) {
            log(LogLevel::Error, "output %s: invalid value '%s' = '%s': %s", ins.name.c_str(), key,
                value, reason);
            return -1;
        }
    if (strcasecmp(key, "Alias") == 0)
        ins.name = value;
    ins.set(key, value);
    return 0;
}

void Engine::stop_outputs(size_t started) {
    Clock::time_point now = Clock::now();
    for (size_t i = 0; i < started; ++i)
        outputs_[i]->begin_stop(now);
    for (size_t i = 0; i < started; ++i)
        outputs_[i]->finish(now);
}

void Engine::arm_flush_timer() {
    // A timer below a millisecond would only spin the loop.
    double s = std::max(flush_seconds_, 0.001);
    itimerspec period{};
    period.it_interval.tv_sec = static_cast<time_t>(s);
    period.it_interval.tv_nsec =
        static_cast<long>(std::llround((s - std::floor(s)) * 1e9)) % 1000000000L;
    period.it_value = period.it_interval;
    timerfd_settime(timer_fd_, 0, &period, nullptr);
}

int Engine::start() {
    if (state_ != State::Configuring) {
        log(LogLevel::Error, "flb_start: the engine was already started");
        return -1;
    }
    state_ = State::Stopped; // a failed start cannot be repeated
    for (size_t i = 0; i < outputs_.size(); ++i)
        if (!outputs_[i]->start()) {
            stop_outputs(i);
            return -1;
        }
    size_t started = 0;
    bool ok = true;
    while (ok && started < inputs_.size()) {
        InputEntry &in = *inputs_[started];
        uint64_t limit = 32u << 20;
        in.ins.get_size("Mem_Buf_Limit", &limit);
        in.buffer = std::make_unique<InputBuffer>(limit, wake_fd_);
        in.ins.buffer = in.buffer.get();
        in.fd = in.ins.plugin->start ? in.ins.plugin->start(&in.ins) : -1;
        in.started = in.fd >= 0;
        if (!in.started) {
            log(LogLevel::Error, "flb_start: input %s could not start", in.ins.name.c_str());
            ok = false;
            break;
        }
        ++started;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = &in;
        in.watched = epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, in.fd, &ev) == 0;
        ok = in.watched;
    }
    epoll_event wake{}, timer{};
    wake.events = timer.events = EPOLLIN;
    wake.data.ptr = &wake_marker;
    timer.data.ptr = &timer_marker;
    if (ok)
        ok = epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &wake) == 0 &&
             epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, timer_fd_, &timer) == 0;
    if (!ok) {
        for (size_t i = 0; i < started; ++i)
            if (inputs_[i]->started && inputs_[i]->ins.plugin->stop)
                inputs_[i]->ins.plugin->stop(&inputs_[i]->ins);
        stop_outputs(outputs_.size());
        return -1;
    }
    arm_flush_timer();
    loop_ = std::thread([this] { run_loop(); });
    state_ = State::Running;
    return 0;
}

int Engine::stop() {
    if (state_ != State::Running)
        return 0;
    stop_requested_.store(true, std::memory_order_release);
    uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) {
        // Only a full counter refuses the write, and then the loop is awake anyway.
    }
    loop_.join();
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(grace_seconds_);
    for (auto &out : outputs_)
        out->begin_stop(deadline);
    size_t dropped = 0;
    for (auto &out : outputs_)
        dropped += out->finish(deadline);
    if (dropped > 0)
        log(LogLevel::Warn,
            "stop: %zu records were not delivered within the Grace of %llds and are dropped",
            dropped, grace_seconds_);
    state_ = State::Stopped;
    return 0;
}

void Engine::set_watch(InputEntry &in, bool on) {
    if (in.fd < 0 || in.watched == on)
        return;
    epoll_event ev{};
    ev.events = on ? static_cast<uint32_t>(EPOLLIN) : 0u;
    ev.data.ptr = &in;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, in.fd, &ev) == 0)
        in.watched = on;
}

void Engine::resume_paused() {
    for (auto &in : inputs_) {
        if (!in->started || !in->ins.paused || in->buffer->over_limit())
            continue;
        in->ins.paused = false;
        if (in->ins.plugin->resume)
            in->ins.plugin->resume(&in->ins);
        if (!in->ins.paused)
            set_watch(*in, true);
    }
}

void Engine::dispatch_sealed() {
    for (auto &in : inputs_) {
        if (!in->buffer)
            continue;
        for (ChunkRef &chunk : in->buffer->take_sealed()) {
            bool routed = false;
            for (auto &out : outputs_)
                if (out->routes(chunk->tag())) {
                    out->enqueue(chunk);
                    routed = true;
                }
            if (!routed)
                log(LogLevel::Debug, "no output matches tag '%s': %zu records dropped",
                    chunk->tag().c_str(), chunk->records());
        }
    }
}

void Engine::stop_inputs() {
    for (auto &in : inputs_)
        if (in->started) {
            set_watch(*in, false);
            if (in->ins.plugin->stop)
                in->ins.plugin->stop(&in->ins);
            in->started = false;
            in->fd = -1;
        }
}

void Engine::run_loop() {
    epoll_event events[16];
    for (;;) {
        int n = epoll_wait(epoll_fd_, events, 16, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            log(LogLevel::Error, "event loop: epoll_wait failed (errno %d)", errno);
            break;
        }
        bool woken = false;
        for (int i = 0; i < n; ++i) {
            void *ptr = events[i].data.ptr;
            uint64_t count;
            if (ptr == &wake_marker) {
                if (read(wake_fd_, &count, sizeof count) < 0) {
                    // Nothing to read: another wake-up consumed the counter.
                }
                woken = true;
            } else if (ptr == &timer_marker) {
                if (read(timer_fd_, &count, sizeof count) > 0)
                    dispatch_sealed();
            } else {
                auto *in = static_cast<InputEntry *>(ptr);
                if (!in->started || in->ins.paused)
                    continue;
                in->ins.plugin->collect(&in->ins);
                if (in->ins.paused)
                    set_watch(*in, false);
            }
        }
        if (stop_requested_.load(std::memory_order_acquire))
            break;
        if (woken)
            resume_paused();
    }
    stop_inputs();
    dispatch_sealed();
}

} // namespace engine

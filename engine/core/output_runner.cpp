#include "engine/core/output_runner.h"

#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "engine/core/tag_match.h"

namespace engine {

Clock::duration retry_backoff(int retry) {
    int shift = std::clamp(retry - 1, 0, 5);
    return std::min<Clock::duration>(std::chrono::seconds(1LL << shift), std::chrono::seconds(30));
}

OutputRunner::OutputRunner(const OutputPlugin *plugin, std::string name) {
    ins_.plugin = plugin;
    ins_.name = std::move(name);
}

OutputRunner::~OutputRunner() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lk(mu_);
            stopping_ = aborted_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    if (ins_.abort_fd >= 0)
        close(ins_.abort_fd);
}

bool OutputRunner::routes(const std::string &tag) const {
    return !has_match_ || tag_matches(match_, tag);
}

bool OutputRunner::start() {
    const char *limit = ins_.get("Retry_Limit");
    if (limit && (strcasecmp(limit, "no_limits") == 0 || strcasecmp(limit, "false") == 0)) {
        retry_limit_ = -1;
    } else {
        long long n = 5;
        if (limit)
            parse_int(limit, &n);
        retry_limit_ = static_cast<int>(std::clamp<long long>(n, 0, 1 << 30));
    }
    const char *match = ins_.get("Match");
    has_match_ = match != nullptr;
    if (match)
        match_ = match;

    ins_.abort_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (ins_.abort_fd < 0) {
        log(LogLevel::Error, "output %s: cannot create its abort descriptor", ins_.name.c_str());
        return false;
    }
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait(lk, [this] { return init_done_; });
    if (!init_ok_) {
        lk.unlock();
        thread_.join();
        log(LogLevel::Error, "output %s: initialisation failed", ins_.name.c_str());
        return false;
    }
    return true;
}

void OutputRunner::enqueue(ChunkRef chunk) {
    std::lock_guard<std::mutex> lk(mu_);
    std::string tag = chunk->tag();
    queues_[tag].push_back(Pending{std::move(chunk), 0, {}});
    ++queued_;
    cv_.notify_all();
}

void OutputRunner::begin_stop(Clock::time_point deadline) {
    std::lock_guard<std::mutex> lk(mu_);
    stopping_ = true;
    deadline_ = deadline;
    for (auto &entry : queues_)
        if (!entry.second.empty())
            entry.second.front().not_before = Clock::time_point{};
    cv_.notify_all();
}

size_t OutputRunner::finish(Clock::time_point deadline) {
    if (!thread_.joinable())
        return 0;
    {
        std::unique_lock<std::mutex> lk(mu_);
        if (!cv_.wait_until(lk, deadline, [this] { return exited_; })) {
            aborted_ = true;
            uint64_t one = 1;
            if (write(ins_.abort_fd, &one, sizeof one) < 0) {
                // An eventfd write fails only when its counter is full: already signalled.
            }
            cv_.notify_all();
        }
    }
    thread_.join();
    std::lock_guard<std::mutex> lk(mu_);
    return dropped_;
}

void OutputRunner::drop(const Pending &p, const char *why) {
    log(LogLevel::Error, "output %s: chunk of tag '%s' with %zu records dropped: %s",
        ins_.name.c_str(), p.chunk->tag().c_str(), p.chunk->records(), why);
}

void OutputRunner::run() {
    int rc = ins_.plugin->init ? ins_.plugin->init(&ins_) : 0;
    std::unique_lock<std::mutex> lk(mu_);
    init_done_ = true;
    init_ok_ = rc == 0;
    cv_.notify_all();
    if (!init_ok_)
        return;

    for (;;) {
        Clock::time_point now = Clock::now();
        if (aborted_ || (stopping_ && (queued_ == 0 || now >= deadline_)))
            break;
        std::string ready_tag;
        bool ready = false;
        Clock::time_point earliest = Clock::time_point::max();
        for (auto &[tag, queue] : queues_) {
            const Pending &head = queue.front();
            if (head.not_before <= now) {
                ready_tag = tag;
                ready = true;
                break;
            }
            earliest = std::min(earliest, head.not_before);
        }
        if (!ready) {
            if (stopping_)
                earliest = std::min(earliest, deadline_);
            if (earliest == Clock::time_point::max())
                cv_.wait(lk);
            else
                cv_.wait_until(lk, earliest);
            continue;
        }

        ChunkRef chunk = queues_[ready_tag].front().chunk;
        busy_ = true;
        lk.unlock();
        FlushResult result = ins_.plugin->flush(&ins_, chunk->view());
        chunk.reset();
        lk.lock();
        busy_ = false;

        auto &queue = queues_[ready_tag];
        Pending &head = queue.front();
        bool done = true;
        if (result == FlushResult::Error) {
            drop(head, "the output refused it");
        } else if (result == FlushResult::Retry) {
            ++head.retries;
            if (retry_limit_ >= 0 && head.retries > retry_limit_) {
                char why[64];
                snprintf(why, sizeof why, "no success after %d retries", retry_limit_);
                drop(head, why);
            } else {
                head.not_before = Clock::now() + retry_backoff(head.retries);
                log(LogLevel::Warn, "output %s: chunk of tag '%s' failed, retry %d in %llds",
                    ins_.name.c_str(), ready_tag.c_str(), head.retries,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                               retry_backoff(head.retries))
                                               .count()));
                done = false;
            }
        }
        if (done) {
            queue.pop_front();
            --queued_;
            if (queue.empty())
                queues_.erase(ready_tag);
        }
    }

    for (auto &entry : queues_)
        for (auto &p : entry.second)
            dropped_ += p.chunk->records();
    queues_.clear();
    queued_ = 0;
    lk.unlock();
    if (ins_.plugin->exit)
        ins_.plugin->exit(&ins_);
    lk.lock();
    exited_ = true;
    cv_.notify_all();
}

} // namespace engine

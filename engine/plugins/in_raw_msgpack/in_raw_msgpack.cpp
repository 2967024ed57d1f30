// Input "raw_msgpack": the server side of the doorbell. A caller in this same process
// sends a 16-byte request with the size and address of a MessagePack buffer; the input
// validates the buffer, copies its events into the engine's chunks and answers with a
// 16-byte raw_msgpack_answer_t. Because a request makes the engine read memory at the
// address it names, only requests whose kernel-reported sender is this very process are
// served; the socket file is also private to the user (mode 0600).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "engine/include/raw_msgpack_wire.h"
#include "engine/input_api.h"
#include "engine/plugins/in_raw_msgpack/event_decoder.h"

namespace {

using namespace engine;

struct Sender {
    sockaddr_un addr;
    socklen_t len;
};

struct RawInput {
    std::string path;
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    pid_t self = 0;
    uint64_t max_size = 16u << 20;
    bool held = false; // a request waits for room in the buffer
    doorbell_msg_t held_request{};
    Sender held_sender{};
    // Requests of other processes, dropped; warned about at most every ten seconds.
    size_t foreign_dropped = 0;
    timespec last_warning{};
    bool warned = false;
};

const PropertyDef properties[] = {
    {"Buffer_Max_Size", PropType::Size, "16M", "largest buffer one request may hand over"},
    {nullptr, PropType::String, nullptr, nullptr},
};

RawInput *ctx(InputInstance *ins) {
    return static_cast<RawInput *>(ins->context);
}

int raw_init(InputInstance *ins, void *data) {
    const auto *arg = static_cast<const raw_input_data_t *>(data);
    const char *path = arg ? arg->server_path : nullptr;
    const char *problem =
        !arg     ? "no data argument (raw_input_data_t) given"
        : !path  ? "the server path is NULL"
        : !*path ? "the server path is empty"
        : strnlen(path, sizeof(sockaddr_un::sun_path)) >= sizeof(sockaddr_un::sun_path)
            ? "the server path is too long for a Unix socket"
            : nullptr;
    if (problem) {
        log(LogLevel::Error, "input %s: %s", ins->name.c_str(), problem);
        return -1;
    }
    auto *raw = new (std::nothrow) RawInput;
    if (!raw)
        return -1;
    raw->path = path;
    ins->context = raw;
    return 0;
}

int raw_start(InputInstance *ins) {
    RawInput *raw = ctx(ins);
    const char *path = raw->path.c_str();
    uint64_t max = 16u << 20;
    ins->get_size("Buffer_Max_Size", &max);
    raw->max_size = max > INT32_MAX ? INT32_MAX : max;
    raw->self = getpid();

    struct stat st;
    if (lstat(path, &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            log(LogLevel::Error, "input %s: '%s' exists and is not a socket; not replacing it",
                ins->name.c_str(), path);
            return -1;
        }
        unlink(path); // a socket file left by an earlier run
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        log(LogLevel::Error, "input %s: cannot create the socket (errno %d)", ins->name.c_str(),
            errno);
        return -1;
    }
    int on = 1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path, raw->path.size() + 1);
    // Credentials are asked for before the bind, so that no request is ever taken
    // without them. The mode is narrowed right after the bind; a request sent in between
    // still fails the sender check.
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        log(LogLevel::Error, "input %s: cannot bind '%s' (errno %d)", ins->name.c_str(), path,
            errno);
        close(fd);
        return -1;
    }
    if (chmod(path, 0600) != 0 || stat(path, &st) != 0) {
        log(LogLevel::Error, "input %s: cannot make '%s' private (errno %d)", ins->name.c_str(),
            path, errno);
        close(fd);
        unlink(path);
        return -1;
    }
    raw->dev = st.st_dev;
    raw->ino = st.st_ino;
    raw->fd = fd;
    return fd;
}

void answer(InputInstance *ins, const Sender &to, int32_t status, uint32_t records) {
    raw_msgpack_answer_t a{};
    a.status = status;
    a.records = records;
    if (to.len <= sizeof(sa_family_t))
        return; // an unbound sender has no address to answer to
    if (sendto(ctx(ins)->fd, &a, sizeof a, MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr *>(&to.addr),
               to.len) != static_cast<ssize_t>(sizeof a))
        log(LogLevel::Warn, "input %s: cannot answer a request (errno %d)", ins->name.c_str(),
            errno);
}

void note_foreign(InputInstance *ins, pid_t pid) {
    RawInput *raw = ctx(ins);
    ++raw->foreign_dropped;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (raw->warned && now.tv_sec - raw->last_warning.tv_sec < 10)
        return;
    log(LogLevel::Warn,
        "input %s: %zu request(s) not from this process dropped unread (last from pid %d)",
        ins->name.c_str(), raw->foreign_dropped, static_cast<int>(pid));
    raw->foreign_dropped = 0;
    raw->last_warning = now;
    raw->warned = true;
}

enum class Got { Request, Invalid, Nothing };

// Takes one datagram off the socket. Request: a 16-byte request of this process in
// *req. Invalid: one of this process that is not 16 bytes, answered with "refused".
// Nothing: the socket is empty or failed; foreign datagrams are dropped and skipped.
Got receive(InputInstance *ins, doorbell_msg_t *req, Sender *from) {
    RawInput *raw = ctx(ins);
    for (;;) {
        alignas(8) unsigned char buf[sizeof(doorbell_msg_t)];
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(ucred))];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        *from = Sender{};
        msg.msg_name = &from->addr;
        msg.msg_namelen = sizeof from->addr;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = recvmsg(raw->fd, &msg, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                log(LogLevel::Error, "input %s: receive failed (errno %d)", ins->name.c_str(),
                    errno);
            return Got::Nothing;
        }
        from->len = msg.msg_namelen;
        ucred cred{};
        bool have_cred = false;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
                c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
                memcpy(&cred, CMSG_DATA(c), sizeof cred);
                have_cred = true;
            }
        if (!have_cred || cred.pid != raw->self) {
            note_foreign(ins, have_cred ? cred.pid : 0);
            continue;
        }
        if (n != static_cast<ssize_t>(sizeof(doorbell_msg_t))) {
            log(LogLevel::Error, "input %s: request of %zd bytes refused: a request is 16 bytes",
                ins->name.c_str(), n);
            answer(ins, *from, RAW_MSGPACK_REFUSED, 0);
            return Got::Invalid;
        }
        // Size at offset 0 and address at offset 8; bytes 4 to 7 are padding, unread.
        memcpy(&req->size, buf + offsetof(doorbell_msg_t, size), sizeof req->size);
        memcpy(&req->data, buf + offsetof(doorbell_msg_t, data), sizeof req->data);
        return Got::Request;
    }
}

// The caller's datagrams order its writes to the buffer before these reads and its reuse
// after the answer, but ThreadSanitizer cannot see ordering through a socket: in such a
// build both sides say so on the buffer's address (libpostvane releases before its request
// and acquires after the answer).
void handover_acquire(void *buffer) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(buffer);
#else
    (void)buffer;
#endif
}

void handover_release(void *buffer) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(buffer);
#else
    (void)buffer;
#endif
}

void serve(InputInstance *ins, const doorbell_msg_t &req, const Sender &from) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    EventTime arrival{static_cast<uint32_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec)};
    std::string &chunk = input_open_chunk(ins);
    size_t before = chunk.size();
    DecodeOutcome r;
    handover_acquire(req.data);
    try {
        r = decode_events(static_cast<const uint8_t *>(req.data), static_cast<size_t>(req.size),
                          arrival, chunk);
    } catch (const std::bad_alloc &) {
        chunk.resize(before);
        snprintf(r.reason, sizeof r.reason, "out of memory");
    }
    handover_release(req.data);
    if (!r.ok) {
        log(LogLevel::Error, "input %s: buffer of %d bytes rejected at byte %zu: %s",
            ins->name.c_str(), req.size, r.error_at, r.reason);
        answer(ins, from, RAW_MSGPACK_REJECTED, 0);
        return;
    }
    input_commit(ins, before, r.records);
    answer(ins, from, RAW_MSGPACK_ACCEPTED, static_cast<uint32_t>(r.records));
}

void raw_collect(InputInstance *ins) {
    RawInput *raw = ctx(ins);
    doorbell_msg_t req;
    Sender from;
    for (;;) {
        Got got = receive(ins, &req, &from);
        if (got == Got::Nothing)
            return;
        if (got == Got::Invalid)
            continue;
        if (req.size <= 0 || static_cast<uint64_t>(req.size) > raw->max_size) {
            log(LogLevel::Error, "input %s: request refused: size %d is outside 1 to %llu",
                ins->name.c_str(), req.size, static_cast<unsigned long long>(raw->max_size));
            answer(ins, from, RAW_MSGPACK_REFUSED, 0);
            continue;
        }
        if (input_over_limit(ins)) {
            // Back-pressure: the caller waits for its answer until there is room.
            raw->held = true;
            raw->held_request = req;
            raw->held_sender = from;
            ins->paused = true;
            log(LogLevel::Debug, "input %s: buffer above Mem_Buf_Limit, request held",
                ins->name.c_str());
            return;
        }
        serve(ins, req, from);
    }
}

void raw_resume(InputInstance *ins) {
    RawInput *raw = ctx(ins);
    if (!raw->held)
        return;
    raw->held = false;
    serve(ins, raw->held_request, raw->held_sender);
}

void raw_stop(InputInstance *ins) {
    RawInput *raw = ctx(ins);
    if (raw->fd < 0)
        return;
    if (raw->held) {
        raw->held = false;
        answer(ins, raw->held_sender, RAW_MSGPACK_REFUSED, 0);
    }
    // Requests still queued are refused, so that no caller waits for an answer forever.
    doorbell_msg_t req;
    Sender from;
    for (Got got; (got = receive(ins, &req, &from)) != Got::Nothing;)
        if (got == Got::Request)
            answer(ins, from, RAW_MSGPACK_REFUSED, 0);
    close(raw->fd);
    raw->fd = -1;
    struct stat st;
    if (lstat(raw->path.c_str(), &st) == 0 && st.st_dev == raw->dev && st.st_ino == raw->ino)
        unlink(raw->path.c_str());
}

void raw_exit(InputInstance *ins) {
    RawInput *raw = ctx(ins);
    if (!raw)
        return;
    raw_stop(ins);
    delete raw;
    ins->context = nullptr;
}

} // namespace

extern const engine::InputPlugin in_raw_msgpack_plugin = {
    "raw_msgpack",
    properties,
    "MessagePack buffers handed over by address through a Unix datagram doorbell",
    raw_init,
    raw_start,
    raw_collect,
    raw_resume,
    raw_stop,
    raw_exit,
};

// The library's side of the doorbell: its client socket and the 16-byte exchange.
//
// Only the buffer's size and address cross the socket; the input reads the bytes in
// place (same process) and answers once it has copied them. Every address record is the
// whole 110-byte sockaddr_un, zeroed, and that full length is passed to the kernel.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "postvane_internal.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace postvane {
namespace {

// The datagrams order the caller's use of a buffer and the input's reads of it, but
// ThreadSanitizer cannot see ordering through a socket: in such a build both sides say so
// on the buffer's address (the input acquires after its request and releases before its
// answer).
void handover_release(void *buffer) {
#if defined(__SANITIZE_THREAD__)
    if (buffer != nullptr)
        __tsan_release(buffer);
#else
    (void)buffer;
#endif
}

void handover_acquire(void *buffer) {
#if defined(__SANITIZE_THREAD__)
    if (buffer != nullptr)
        __tsan_acquire(buffer);
#else
    (void)buffer;
#endif
}

static_assert(sizeof(sockaddr_un) == 110, "Unix address record");

// The caller guarantees a terminated path of at most kMaxSocketPath characters.
sockaddr_un unix_address(const char *path) {
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path, strnlen(path, kMaxSocketPath));
    return address;
}

} // namespace

int open_client_socket(raw_context_t *context) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    if (fd < 0) {
        print_out("[Postvane] Failed to create client unix sock\n");
        return -1;
    }
    sockaddr_un address = unix_address(context->client_path);
    // A file left at this path by an earlier run must not make the bind fail.
    unlink(context->client_path);
    if (bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        print_out("[Postvane] Failed to bind client unix sock\n");
        return -1;
    }
    // An answer tells the caller that its buffer is free again, so only this user may
    // send one (whatever the umask made of the new file).
    chmod(context->client_path, S_IRUSR | S_IWUSR);
    return fd;
}

ssize_t doorbell_exchange(const raw_context_t *context, int socket, int size, void *data,
                          unsigned char (&answer)[16]) {
    // A path that does not fit an address whole would name some other socket.
    if (strnlen(context->server_path, sizeof context->server_path) > kMaxSocketPath)
        return -1;
    doorbell_msg_t request;
    memset(&request, 0, sizeof request);
    request.size = size;
    request.data = data;
    sockaddr_un server = unix_address(context->server_path);

    handover_release(data);
    ssize_t sent;
    do {
        sent = sendto(socket, &request, sizeof request, 0,
                      reinterpret_cast<const sockaddr *>(&server), sizeof server);
    } while (sent < 0 && errno == EINTR);
    // Nothing bound there, a send error or a short send: no answer can come, so do not wait.
    if (sent != static_cast<ssize_t>(sizeof request))
        return -1;

    ssize_t received;
    do {
        sockaddr_un from;
        socklen_t from_length = sizeof from;
        // A datagram longer than 16 bytes is cut to 16; the sender is not compared.
        received = recvfrom(socket, answer, sizeof answer, 0, reinterpret_cast<sockaddr *>(&from),
                            &from_length);
    } while (received < 0 && errno == EINTR);
    if (received >= 0)
        handover_acquire(data);
    return received;
}

} // namespace postvane

extern "C" int ring_doorbell(raw_context_t *context, int socket, int size, void *data) {
    if (context == nullptr)
        return 0;
    unsigned char answer[16];
    return postvane::doorbell_exchange(context, socket, size, data, answer) == 16 ? 1 : 0;
}

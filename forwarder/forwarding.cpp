// add_data and finalize: feeding a started context and tearing it down.
#include <cstring>

#include "pv_engine.h"
#include "postvane_internal.h"

extern "C" int add_data(raw_context_t *context, void *data, int size) {
    if (context == nullptr)
        return -1;
    if (size == 0)
        return 0;
    // The input reads the bytes at the address it is given; a null buffer must not reach it.
    if (data == nullptr)
        return -1;
    unsigned char answer[16];
    if (postvane::doorbell_exchange(context, context->client_socket, size, data, answer) != 16)
        return -1;
    // The answer's status: 0 taken, negative refused or rejected. An input that sends
    // nothing but 16 zero bytes therefore reports every buffer as taken.
    raw_msgpack_answer_t reply;
    memcpy(&reply, answer, sizeof reply);
    return reply.status < 0 ? -1 : 0;
}

extern "C" int finalize(raw_context_t *context) {
    if (context == nullptr)
        return -1;
    // Stop first: the input reads input_data and server_path until it has stopped.
    int code = flb_stop(context->engine);
    if (code != 0)
        postvane::print_out("[Postvane] warning: background worker stopped with the error code %d\n",
                            code);
    postvane::raw_context_free(context);
    return 0;
}

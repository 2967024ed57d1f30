// init: builds the engine with the "raw_msgpack" input and one output, and starts it.
// Critical failures print their line and give the context up; warnings print their line
// and init goes on without that setting.
#include <cstring>

#include "pv_engine.h"
#include "postvane_internal.h"

namespace postvane {
namespace {

constexpr const char *kDefaultOutput = "forward";
// The parameter key that names the input's tag and the output's match together.
constexpr const char *kTagMatchPair = "tag_match_pair";

raw_context_t *give_up(raw_context_t *context) {
    raw_context_free(context);
    return nullptr;
}

void set_service_properties(flb_ctx_t *engine) {
    if (flb_service_set(engine, "Flush", "0.1", nullptr) != 0)
        print_out("[Postvane] warning: failed to set service property Flush to 0.1\n");
    if (flb_service_set(engine, "Grace", "1", nullptr) != 0)
        print_out("[Postvane] warning: failed to set service property Grace to 1\n");
}

// The named output, or "forward" when no name is given or the named one cannot be made.
int create_output(flb_ctx_t *engine, const char *output_plugin) {
    int handle = -1;
    if (output_plugin[0] != '\0') {
        handle = flb_output(engine, output_plugin, nullptr);
        if (handle < 0) {
            handle = -1;
            print_out("[Postvane] warning: failed to cerate output instance '%s', will use the "
                      "default '%s'\n",
                      output_plugin, kDefaultOutput);
        }
    }
    if (handle == -1) {
        handle = flb_output(engine, kDefaultOutput, nullptr);
        if (handle < 0) {
            handle = -1;
            print_out("[Postvane] critical: failed to cerate output instance '%s'\n",
                      kDefaultOutput);
        }
    }
    return handle;
}

void set_host_and_port(raw_context_t *context, const char *host, const char *port) {
    if (flb_output_set(context->engine, context->output_handle, "Host", host, nullptr) < 0)
        print_out("[Postvane] warning: failed to set output parameter Host to '%s'\n", host);
    if (flb_output_set(context->engine, context->output_handle, "Port", port, nullptr) < 0)
        print_out("[Postvane] warning: failed to set output parameter Port to '%s'\n", port);
}

void set_output_params(raw_context_t *context, const char *output_plugin,
                       const output_plugin_params_t *params) {
    if (params == nullptr || params->count <= 0 || params->items == nullptr)
        return;
    print_out("\n[Postvane] Setting '%s' output plugin parameters:\n", output_plugin);
    for (int32_t i = 0; i < params->count; ++i) {
        const char *key = params->items[i].key;
        const char *value = params->items[i].value;
        if (key == nullptr || value == nullptr) {
            print_out("[Postvane] warning: output parameter %d has no key or no value, skipped\n",
                      static_cast<int>(i));
            continue;
        }
        print_out("\t\t\t\t'%s' to '%s'\n", key, value);
        const char *output_key = key;
        if (strcmp(key, kTagMatchPair) == 0) {
            if (flb_input_set(context->engine, context->input_handle, "tag", value, nullptr) < 0)
                print_out("[Postvane] warning: failed to set input parameter '%s' to '%s'\n",
                          "tag", value);
            output_key = "match";
        }
        if (flb_output_set(context->engine, context->output_handle, output_key, value, nullptr) < 0)
            print_out("[Postvane] warning: failed to set output parameter '%s' to '%s'\n",
                      output_key, value);
    }
}

} // namespace
} // namespace postvane

extern "C" raw_context_t *init(const char *output_plugin, const char *host, const char *port,
                               const output_plugin_params_t *output_params, const char *label) {
    using namespace postvane;
    // A missing string means the same as an empty one: the value is not given.
    output_plugin = output_plugin != nullptr ? output_plugin : "";
    host = host != nullptr ? host : "";
    port = port != nullptr ? port : "";
    label = label != nullptr ? label : "";
    raw_context_t *context = raw_context_new();
    if (context == nullptr) {
        print_out("[Postvane] critical: failed to create raw context.\n");
        return nullptr;
    }
    if (!build_socket_paths(context, output_plugin, host, port, label))
        return give_up(context);

    context->engine = flb_create();
    if (context->engine == nullptr) {
        print_out("[Postvane] critical: could not create flb context.\n");
        return give_up(context);
    }
    set_service_properties(context->engine);

    context->client_socket = open_client_socket(context);
    if (context->client_socket < 0) {
        context->client_socket = -1;
        print_out("[Postvane] critical: failed to cerate doorbell socket\n");
        return give_up(context);
    }

    context->input_data.server_path = context->server_path;
    context->input_handle = flb_input(context->engine, "raw_msgpack", &context->input_data);
    if (context->input_handle < 0) {
        print_out("[Postvane] critical: failed to cerate input instance 'raw_msgpack'\n");
        return give_up(context);
    }

    context->output_handle = create_output(context->engine, output_plugin);
    if (context->output_handle == -1)
        return give_up(context);
    set_host_and_port(context, host, port);
    set_output_params(context, output_plugin, output_params);

    if (flb_start(context->engine) < 0) {
        print_out("[Postvane] critical: failed to start background worker\n");
        return give_up(context);
    }
    return context;
}

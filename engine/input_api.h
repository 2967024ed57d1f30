// What an input plugin sees of the engine. The core creates InputInstances, checks every
// property against the plugin's table, and calls the callbacks; the functions declared
// at the end are the core's services to inputs.
//
// Threading: init runs on the caller's thread in flb_input; start on the caller's thread
// in flb_start (so that flb_start returns only once the input is listening); collect,
// resume and stop run on the engine's event loop thread; exit in flb_destroy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/output_api.h"

namespace engine {

struct InputPlugin;
class Engine;
class InputBuffer;

struct InputInstance {
    const InputPlugin *plugin = nullptr;
    std::string name; // "<plugin>.<n>", or the Alias
    std::string tag;  // the Tag property, default "<plugin>.<n>"
    std::vector<std::pair<std::string, std::string>> properties;
    void *context = nullptr; // the plugin's own state, set by init
    Engine *engine = nullptr;
    InputBuffer *buffer = nullptr; // the core's chunks of this input, set by the core

    // The user's value for key, else the default of the plugin's table or the common one.
    const char *get(const char *key) const;
    bool get_size(const char *key, uint64_t *out) const;

    // Set by the plugin while it holds a request because the buffer is full; the core
    // then stops watching the input's descriptor and calls resume once there is room.
    bool paused = false;
};

struct InputPlugin {
    const char *name;
    const PropertyDef *properties; // terminated by an entry whose name is NULL
    const char *description;
    // flb_input: check the caller's data argument. 0, or -1 (flb_input then fails).
    int (*init)(InputInstance *ins, void *data);
    // flb_start: open what the input listens on. Returns the descriptor the event loop
    // watches for reading, or -1 when the start must fail.
    int (*start)(InputInstance *ins);
    // The watched descriptor is readable.
    void (*collect)(InputInstance *ins);
    // The buffer has room again after the input paused itself.
    void (*resume)(InputInstance *ins);
    // The engine is stopping: answer what is held, close what start opened.
    void (*stop)(InputInstance *ins);
    // flb_destroy: free the plugin's state (also when start never ran).
    void (*exit)(InputInstance *ins);
};

// Properties every input accepts besides its own table.
inline const PropertyDef *common_input_properties() {
    static const PropertyDef props[] = {
        {"Alias", PropType::String, nullptr, "name of the instance in log lines"},
        {"Tag", PropType::String, nullptr, "tag of the records; default <plugin>.<n>"},
        {"Mem_Buf_Limit", PropType::Size, "32M", "buffered bytes above which the input pauses"},
        {nullptr, PropType::String, nullptr, nullptr},
    };
    return props;
}

// True while the bytes this input has buffered (open and in-flight chunks) are at or
// above its Mem_Buf_Limit: the input should hold new data back.
bool input_over_limit(const InputInstance *ins);

// The open chunk of the input's tag, to which a decoder appends events in the engine's
// layout. After appending, the input calls input_commit with the chunk's size before
// the append and the number of records added; to undo a partial append it truncates the
// chunk back to that size and does not commit.
std::string &input_open_chunk(InputInstance *ins);
void input_commit(InputInstance *ins, size_t size_before, size_t records);

} // namespace engine

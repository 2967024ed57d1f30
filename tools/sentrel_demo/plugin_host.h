// The host side of the plug-in contract: loading libsentrel, its exporter table, option
// dictionaries and the type-definition lookup for the pages this host writes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "events/vem_opaque_events.h"
#include "exporter/vem_exporter.h"
#include "exporter/vem_netflow_fields.h"
#include "support/vem_dict.h"

namespace demo {

class PluginHost {
  public:
    PluginHost() = default;
    ~PluginHost();
    PluginHost(const PluginHost &) = delete;
    PluginHost &operator=(const PluginHost &) = delete;

    // Loads the plug-in; false with `error` set when it or one of its names is missing.
    bool load(const std::string &path, std::string &error);

    const vem_exporter_api_t *api() const { return api_; }
    // An exporter from key=value options, or NULL (the plug-in has logged why).
    void *create_exporter(const std::vector<std::pair<std::string, std::string>> &options);
    // The exporter's options as the plug-in kept them.
    std::vector<std::pair<std::string, std::string>> exporter_options(void *exporter);

    const vem_net_flow_field_info_t *field(const char *name) const { return by_name_(name); }

  private:
    void *handle_ = nullptr;
    const vem_exporter_api_t *api_ = nullptr;
    vem_dict_t (*dict_create_)() = nullptr;
    bool (*dict_add_)(vem_dict_t, const char *, const char *) = nullptr;
    void (*dict_delete_)(vem_dict_t) = nullptr;
    bool (*dict_enum_)(vem_dict_t, vem_dict_enum_cb, void *) = nullptr;
    const vem_net_flow_field_info_t *(*by_name_)(const char *) = nullptr;
};

// Path of the plug-in next to this executable: ../lib/libsentrel.so.
std::string default_plugin_path();

// The record types this host writes, answered by schema and type index.
class TypeRegistry {
  public:
    static constexpr uint8_t kSchema = 0;
    static constexpr uint16_t kWholeEvents = 1;
    static constexpr uint16_t kChunks = 2;
    static constexpr uint16_t kInterfaceSamples = 3; // not opaque: the exporter skips them

    void define(uint16_t type_index, const char *name, uint64_t record_size);
    vem_type_def_lookup_t lookup() { return {&TypeRegistry::answer, this}; }

  private:
    static const vem_type_def_t *answer(void *user, const void *schemas_block,
                                        const void *events_block);
    struct Entry {
        uint16_t type_index;
        vem_type_def_t def;
    };
    std::vector<Entry> entries_;
};

} // namespace demo

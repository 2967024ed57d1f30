#include "tools/sentrel_demo/plugin_host.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>

namespace demo {

PluginHost::~PluginHost() {
    if (handle_)
        dlclose(handle_);
}

bool PluginHost::load(const std::string &path, std::string &error) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        error = dlerror();
        return false;
    }
    auto sym = [&](const char *name) {
        void *p = dlsym(handle_, name);
        if (!p && error.empty())
            error = std::string("missing symbol ") + name;
        return p;
    };
    auto get_api = reinterpret_cast<const vem_exporter_api_t *(*)()>(sym("vem_exporter_get_api"));
    dict_create_ = reinterpret_cast<decltype(dict_create_)>(sym("vem_dict_create"));
    dict_add_ = reinterpret_cast<decltype(dict_add_)>(sym("vem_dict_add"));
    dict_delete_ = reinterpret_cast<decltype(dict_delete_)>(sym("vem_dict_delete"));
    dict_enum_ = reinterpret_cast<decltype(dict_enum_)>(sym("vem_dict_enum"));
    by_name_ = reinterpret_cast<decltype(by_name_)>(sym("vem_net_flow_field_info_by_name"));
    if (!error.empty())
        return false;
    api_ = get_api();
    if (!api_ || api_->api_version != 1 || !api_->create || !api_->process_data_page ||
        !api_->destroy) {
        error = "unexpected exporter API table";
        return false;
    }
    return true;
}

void *PluginHost::create_exporter(const std::vector<std::pair<std::string, std::string>> &options) {
    vem_dict_t dict = dict_create_();
    if (!dict)
        return nullptr;
    for (auto &kv : options)
        dict_add_(dict, kv.first.c_str(), kv.second.c_str());
    void *exporter = api_->create(dict);
    dict_delete_(dict); // the exporter keeps its own copy
    return exporter;
}

std::vector<std::pair<std::string, std::string>> PluginHost::exporter_options(void *exporter) {
    std::vector<std::pair<std::string, std::string>> out;
    if (!api_->get_options)
        return out;
    dict_enum_(
        api_->get_options(exporter),
        [](const char *key, const char *value, void *user) {
            static_cast<decltype(out) *>(user)->emplace_back(key, value ? value : "");
            return true;
        },
        &out);
    return out;
}

std::string default_plugin_path() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "../lib/libsentrel.so";
    self[n] = 0;
    std::string dir(self);
    dir.erase(dir.rfind('/'));
    return dir + "/../lib/libsentrel.so";
}

void TypeRegistry::define(uint16_t type_index, const char *name, uint64_t record_size) {
    Entry e{};
    e.type_index = type_index;
    e.def.name = name;
    e.def.record_size = record_size;
    entries_.push_back(e);
}

const vem_type_def_t *TypeRegistry::answer(void *user, const void *, const void *events_block) {
    auto *self = static_cast<TypeRegistry *>(user);
    const auto *h = static_cast<const uint8_t *>(events_block);
    uint16_t type_index;
    std::memcpy(&type_index, h + 13, sizeof type_index);
    if (h[12] != kSchema)
        return nullptr;
    for (auto &e : self->entries_)
        if (e.type_index == type_index)
            return &e.def;
    return nullptr;
}

} // namespace demo

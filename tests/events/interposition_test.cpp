// A host that defines the support library's logging names and vem_dict_add itself and
// loads libsentrel at run time, as the framework does: the plug-in must use the host's
// definitions. This program is not linked against libsentrel; it exports its own
// symbols (-rdynamic) so that the loader binds the plug-in's references to them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <utility>
#include <vector>

#include "events/vem_opaque_events.h"
#include "fixture/test_host.h"
#include "support/vem_dict.h"
#include "support/vem_log.h"

namespace {

std::vector<std::pair<int, std::string>> host_log;
std::vector<std::pair<std::string, std::string>> host_dict_adds;
using dict_add_fn = bool (*)(vem_dict_t, const char *, const char *);
dict_add_fn library_dict_add;

}  // namespace

extern "C" {

int32_t vem_log_level = 7;

void _vem_log(int level, const char *format, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    host_log.emplace_back(level, buf);
}

vem_log_func_t vem_get_log_func(void) { return nullptr; }

// Records the pair, then stores it with the plug-in's own implementation, so that the
// dictionaries the plug-in creates and deletes stay consistent.
bool vem_dict_add(vem_dict_t dict, const char *key, const char *value) {
    host_dict_adds.emplace_back(key, value ? value : "(null)");
    return library_dict_add && library_dict_add(dict, key, value);
}

}  // extern "C"

namespace {

struct Plugin {
    void *handle = dlopen(SENTREL_PATH, RTLD_NOW | RTLD_LOCAL);
    template <typename F>
    F sym(const char *name) {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    ~Plugin() {
        if (handle)
            dlclose(handle);
    }
};

struct Seen {
    std::string a, b;
    std::string payload;
    const char *(*get)(vem_dict_t, const char *);
};

bool on_event(void *user, const char *, const char *, vem_dict_t meta, const vem_app_id_t *, uint64_t, uint64_t,
              const void *data, uint32_t size) {
    auto *s = static_cast<Seen *>(user);
    if (meta) {
        const char *a = s->get(meta, "a");
        const char *b = s->get(meta, "b");
        s->a = a ? a : "";
        s->b = b ? b : "";
    }
    s->payload.assign(static_cast<const char *>(data), size);
    return true;
}

TEST(Interposition, PluginUsesTheHostsLoggerAndDictionary) {
    Plugin lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    auto create = lib.sym<decltype(&vem_opaque_events_extractor_create)>("vem_opaque_events_extractor_create");
    auto process = lib.sym<decltype(&vem_opaque_events_extractor_process_data_page)>(
        "vem_opaque_events_extractor_process_data_page");
    auto destroy = lib.sym<decltype(&vem_opaque_events_extractor_delete)>("vem_opaque_events_extractor_delete");
    // dlsym on the handle finds the plug-in's own definitions.
    library_dict_add = lib.sym<dict_add_fn>("vem_dict_add");
    auto *library_level = lib.sym<int32_t *>("vem_log_level");
    ASSERT_TRUE(create && process && destroy && library_dict_add && library_level);
    ASSERT_NE(library_dict_add, &vem_dict_add);
    ASSERT_NE(library_level, &vem_log_level);

    Seen seen;
    seen.get = lib.sym<const char *(*)(vem_dict_t, const char *)>("vem_dict_get");
    const vem_app_id_t app = testhost::netflow_app_id();
    vem_opaque_events_callbacks_t cbs{&on_event, nullptr, &seen};
    vem_opaque_events_extractor_t *x = create(&app, &cbs);
    ASSERT_NE(x, nullptr);
    testhost::Types types;
    types.define_opaque(1, 2, 96);
    vem_type_def_lookup_t lk = types.lookup();

    // An empty page: the warning arrives in the host's _vem_log.
    testhost::Page empty;
    empty.finish(64);
    empty.filled_size(720);
    testhost::ExactPage empty_exact(empty);
    EXPECT_FALSE(process(x, empty_exact.page(), &lk));
    ASSERT_EQ(host_log.size(), 1u);
    EXPECT_EQ(host_log[0].first, 4);
    EXPECT_EQ(host_log[0].second, "[opaque events extractor] Received empty data page. Skipping.");

    // An extended event: its meta pairs go through the host's vem_dict_add.
    testhost::OpaqueRecord start;
    start.type = VEM_OPAQUE_EVENT_EXTENDED;
    start.id = 3;
    start.offset = 2;
    start.app = app;
    start.data = testhost::meta({"a=1", "b=x=y"});
    testhost::OpaqueRecord chunk;
    chunk.type = VEM_OPAQUE_EVENT_CHUNK;
    chunk.id = 3;
    chunk.app = app;
    chunk.data = testhost::text("hi");
    testhost::Page page;
    page.events(1, 2, 2);
    page.record(start, 96);
    page.record(chunk, 96);
    page.finish();
    testhost::ExactPage exact(page);
    EXPECT_TRUE(process(x, exact.page(), &lk));
    destroy(x);

    std::vector<std::pair<std::string, std::string>> adds{{"a", "1"}, {"b", "x=y"}};
    EXPECT_EQ(host_dict_adds, adds);
    EXPECT_EQ(seen.a, "1");
    EXPECT_EQ(seen.b, "x=y");
    EXPECT_EQ(seen.payload, "hi");
    EXPECT_EQ(host_log.back().second, "[opaque events extractor] event of 2 bytes extracted");
    // The plug-in's own level was never read, so never initialised.
    EXPECT_EQ(*library_level, -1);
}

}  // namespace

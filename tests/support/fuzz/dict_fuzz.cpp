// Dictionary operations read from bytes, checked against a std::map model.
// Input: a sequence of records, each an operation byte followed by up to two texts; a
// text is a length byte and that many bytes (cut at the end of the input; a zero byte
// inside ends the C string early, as a host's key would).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "support/vem_dict.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t left;
    bool more() const { return left > 0; }
    uint8_t byte() {
        if (!left)
            return 0;
        --left;
        return *p++;
    }
    std::string text() {
        size_t n = byte();
        if (n > left)
            n = left;
        std::string s(reinterpret_cast<const char *>(p), n);
        p += n;
        left -= n;
        return std::string(s.c_str());  // up to the first zero byte
    }
};

using Model = std::map<std::string, std::optional<std::string>>;

void check_same(vem_dict_t d, const Model &model) {
    if (d->table->key_count != model.size())
        abort();
    struct Walk {
        const Model *model;
        size_t seen;
    } walk{&model, 0};
    bool done = vem_dict_enum(
        d,
        [](const char *k, const char *v, void *user) {
            auto *w = static_cast<Walk *>(user);
            auto it = w->model->find(k);
            if (it == w->model->end() || it->second.has_value() != (v != nullptr) ||
                (v && *it->second != v))
                abort();
            ++w->seen;
            return true;
        },
        &walk);
    if (!done || walk.seen != model.size())
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in{data, size};
    vem_dict_t d = vem_dict_create();
    if (!d)
        return 0;
    Model model;
    while (in.more()) {
        uint8_t op = in.byte();
        switch (op % 6) {
        case 0:
        case 1: {  // add with a value
            std::string k = in.text(), v = in.text();
            if (!vem_dict_add(d, k.c_str(), v.c_str()))
                abort();
            model[k] = v;
            break;
        }
        case 2: {  // add with NULL
            std::string k = in.text();
            if (!vem_dict_add(d, k.c_str(), nullptr))
                abort();
            model[k] = std::nullopt;
            break;
        }
        case 3: {  // lookup
            std::string k = in.text();
            const char *v = vem_dict_get(d, k.c_str());
            auto it = model.find(k);
            bool expect_value = it != model.end() && it->second;
            if ((v != nullptr) != expect_value || (v && *it->second != v))
                abort();
            break;
        }
        case 4: {  // copy, compare, replace the original with the copy
            vem_dict_t copy = vem_dict_dup(d);
            if (!copy)
                abort();
            check_same(copy, model);
            vem_dict_delete(d);
            d = copy;
            break;
        }
        case 5: {  // a walk that stops after a number of entries
            struct Stop {
                size_t calls, limit;
            } stop{0, in.byte()};
            bool done = vem_dict_enum(
                d,
                [](const char *, const char *, void *user) {
                    auto *s = static_cast<Stop *>(user);
                    return ++s->calls <= s->limit;
                },
                &stop);
            if (done != (model.size() <= stop.limit) || stop.calls != std::min(model.size(), stop.limit + 1))
                abort();
            break;
        }
        }
    }
    check_same(d, model);
    vem_dict_delete(d);
    return 0;
}

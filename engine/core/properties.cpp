#include "engine/core/properties.h"

#include <strings.h>

#include <cmath>

namespace engine {

const PropertyDef *service_properties() {
    static const PropertyDef props[] = {
        {"Flush", PropType::Double, "1", "seconds between flushes of the buffered chunks"},
        {"Grace", PropType::Int, "5", "seconds flb_stop keeps retrying before it drops"},
        {"Log_Level", PropType::String, "info", "off, error, warn, info or debug"},
        {nullptr, PropType::String, nullptr, nullptr},
    };
    return props;
}

int parse_log_level(const char *value) {
    static const char *const names[] = {"off", "error", "warn", "info", "debug"};
    for (int i = 0; i < 5; ++i)
        if (strcasecmp(value, names[i]) == 0)
            return i;
    return -1;
}

// Rules beyond the type, for keys whose meaning the engine itself knows.
static bool value_in_range(const PropertyDef &def, const char *value) {
    const char *name = def.name;
    if (strcasecmp(name, "Flush") == 0) {
        double d = 0;
        return parse_double(value, &d) && std::isfinite(d) && d > 0;
    }
    if (strcasecmp(name, "Grace") == 0) {
        long long g = 0;
        return parse_int(value, &g) && g >= 0 && g <= 24 * 3600;
    }
    if (strcasecmp(name, "Log_Level") == 0)
        return parse_log_level(value) >= 0;
    if (strcasecmp(name, "Tag") == 0 || strcasecmp(name, "Match") == 0 ||
        strcasecmp(name, "Alias") == 0)
        return *value != '\0';
    if (strcasecmp(name, "Retry_Limit") == 0) {
        long long n = 0;
        return strcasecmp(value, "no_limits") == 0 || strcasecmp(value, "false") == 0 ||
               (parse_int(value, &n) && n >= 0);
    }
    if (def.type == PropType::Size) {
        uint64_t s = 0;
        return parse_size(value, &s) && s > 0;
    }
    return true;
}

bool check_property(const PropertyDef *const *tables, int count, const char *key, const char *value,
                    std::string *why) {
    const PropertyDef *def = nullptr;
    for (int i = 0; i < count && !def; ++i)
        def = find_property(tables[i], key);
    if (!def) {
        *why = "unknown property";
        return false;
    }
    if (!value_fits(def->type, value) || !value_in_range(*def, value)) {
        *why = "invalid value";
        return false;
    }
    return true;
}

} // namespace engine

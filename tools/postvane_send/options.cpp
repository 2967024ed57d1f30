#include <cstring>

#include "sender.h"

namespace postvane_send {

bool parse_options(int argc, char **argv, Options *options, std::string *error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string *into) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *into = argv[++i];
            return true;
        };
        if (arg == "--host") {
            if (!value(&options->host))
                return false;
        } else if (arg == "--port") {
            if (!value(&options->port))
                return false;
        } else if (arg == "--plugin") {
            if (!value(&options->plugin))
                return false;
        } else if (arg == "--tag") {
            if (!value(&options->tag))
                return false;
        } else if (arg == "--param") {
            std::string pair;
            if (!value(&pair))
                return false;
            size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0) {
                *error = "--param takes key=value, not '" + pair + "'";
                return false;
            }
            options->params.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        } else if (arg == "--msgpack") {
            options->msgpack = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            *error = "unknown option " + arg;
            return false;
        } else if (!options->input.empty()) {
            *error = "only one input file";
            return false;
        } else {
            options->input = arg;
        }
    }
    return true;
}

} // namespace postvane_send

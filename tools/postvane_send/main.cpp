// postvane-send: forwards events from a file or standard input through libpostvane.
#include <cstdio>
#include <string>

#include "sender.h"

namespace {

const char kUsage[] =
    "usage: postvane-send [--host H] [--port P] [--plugin NAME] [--tag TAG]\n"
    "                     [--param key=value]... [--msgpack] [FILE|-]\n"
    "Reads one JSON event per line (an object, or [time, record]) or, with --msgpack, raw\n"
    "MessagePack events, and forwards them. Without --host the records go to the \"stdout\"\n"
    "output; with one, to the \"forward\" output unless --plugin names another.\n";

} // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            fputs(kUsage, stdout);
            return 0;
        }
    postvane_send::Options options;
    std::string error;
    if (!postvane_send::parse_options(argc, argv, &options, &error)) {
        fprintf(stderr, "postvane-send: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    FILE *in = stdin;
    if (!options.input.empty() && options.input != "-") {
        in = fopen(options.input.c_str(), options.msgpack ? "rb" : "r");
        if (in == nullptr) {
            perror(("postvane-send: " + options.input).c_str());
            return 2;
        }
    }
    postvane_send::Summary summary;
    int status = postvane_send::run(options, in, stderr, &summary);
    if (in != stdin)
        fclose(in);
    return status;
}

// postvane-send's work: read events (JSON lines or raw MessagePack), hand them to
// libpostvane in batches, and report what went through.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace postvane_send {

struct Options {
    std::string host;   // empty: records go to the "stdout" output
    std::string port;
    std::string plugin; // empty: "forward" with a host, "stdout" without
    std::string tag;    // input tag and output match; empty: the input's default
    std::vector<std::pair<std::string, std::string>> params; // extra output parameters
    bool msgpack = false; // input is raw MessagePack, not JSON lines
    std::string input;    // file path; empty or "-": standard input
};

struct Summary {
    size_t events = 0;                // events taken by the engine
    size_t bytes = 0;                 // MessagePack bytes of those events
    std::vector<size_t> rejected;     // line numbers (JSON) or object numbers (MessagePack)
    std::string stopped;              // why reading stopped early, if it did
};

// Parses the command line; false with a message in *error on a usage error.
bool parse_options(int argc, char **argv, Options *options, std::string *error);

// Sends everything from `in`; progress and the summary go to `report`. Returns the exit
// status: 0 all sent, 1 something rejected, 2 the forwarding context could not be made.
int run(const Options &options, FILE *in, FILE *report, Summary *summary);

// One JSON line as a MessagePack event: an object becomes [now, object]; an array is
// taken as an event already ([time, record] or [[time, meta], record]). False otherwise.
bool json_line_to_event(const std::string &line, std::vector<uint8_t> *out);

} // namespace postvane_send

// postvane-send-demo: forwards a few built-in JSON events through libpostvane to the
// "stdout" output, so that the records can be seen coming out of the engine.
#include <cstdio>
#include <cstring>

#include "sender.h"

namespace {

const char kSample[] =
    "{\"service\":\"checkout\",\"level\":\"info\",\"message\":\"order placed\",\"order\":1041}\n"
    "{\"service\":\"checkout\",\"level\":\"warn\",\"message\":\"payment retry\",\"attempt\":2}\n"
    "[1700000000,{\"service\":\"billing\",\"level\":\"info\",\"message\":\"invoice sent\"}]\n"
    "{\"service\":\"search\",\"level\":\"debug\",\"latency_ms\":12.5,\"tags\":[\"fast\",\"cached\"]}\n"
    "{\"service\":\"search\",\"level\":\"error\",\"message\":\"index unavailable\",\"retry\":true}\n";

} // namespace

int main() {
    FILE *in = fmemopen(const_cast<char *>(kSample), strlen(kSample), "r");
    if (in == nullptr)
        return 2;
    postvane_send::Options options;
    options.tag = "demo.events";
    int events = 0;
    for (const char *c = kSample; *c; ++c)
        events += *c == '\n';
    printf("postvane-send-demo: forwarding %d built-in events to the \"stdout\" output\n", events);
    fflush(stdout);
    postvane_send::Summary summary;
    int status = postvane_send::run(options, in, stdout, &summary);
    fclose(in);
    return status;
}

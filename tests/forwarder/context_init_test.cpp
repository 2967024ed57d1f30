// init and finalize through the real engine: the exact standard output of init (warnings,
// the parameter list), the critical failures that give the context up, and what a live
// context holds on disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "engine_probe.h"
#include "postvane.h"
#include "stdout_capture.h"

namespace {

using forwarder_test::StdoutCapture;

bool exists(const char *path) { return access(path, F_OK) == 0; }

// init with its standard output captured; the context is finalized when the test ends.
struct Init {
    Init(const char *plugin, const char *host, const char *port, const output_plugin_params_t *params,
         const char *label = "init_test") {
        StdoutCapture capture;
        context = init(plugin, host, port, params, label);
        out = capture.finish();
    }
    ~Init() {
        if (context != nullptr)
            finalize(context);
    }
    raw_context_t *context;
    std::string out;
};

TEST(ContextInit, ALiveContextHoldsItsEngineSocketsAndInputRecord) {
    Init a("stdout", "", "", nullptr);
    ASSERT_NE(a.context, nullptr) << a.out;
    EXPECT_EQ(a.out, "");
    raw_context_t *c = a.context;
    EXPECT_NE(c->engine, nullptr);
    EXPECT_GE(c->input_handle, 0);
    EXPECT_GE(c->output_handle, 0);
    EXPECT_GE(c->client_socket, 0);
    EXPECT_EQ(c->input_data.reserved, 0u);
    EXPECT_EQ(c->input_data.server_path, c->server_path);
    EXPECT_TRUE(exists(c->client_path));
    EXPECT_TRUE(exists(c->server_path)); // bound by the input once the engine has started

    // A second live context with the same strings gets paths of its own.
    Init b("stdout", "", "", nullptr);
    ASSERT_NE(b.context, nullptr);
    EXPECT_STRNE(a.context->client_path, b.context->client_path);
    EXPECT_STRNE(a.context->server_path, b.context->server_path);

    const std::string client_path = c->client_path;
    StdoutCapture capture;
    EXPECT_EQ(finalize(a.context), 0);
    a.context = nullptr;
    EXPECT_EQ(capture.finish(), "");
    EXPECT_FALSE(exists(client_path.c_str()));
}

TEST(ContextInit, NullContextsAreRefused) {
    EXPECT_EQ(finalize(nullptr), -1);
    char byte = 0;
    EXPECT_EQ(add_data(nullptr, &byte, 1), -1);
}

TEST(ContextInit, TheParameterListIsPrintedAndEachFailureNamed) {
    const output_plugin_param_t items[] = {
        {"tag_match_pair", "app.x"}, // input tag and output match
        {"Tag_Match_Pair", "y"},     // differs in case: an ordinary output key
        {"Retry_Limit", "3"},
        {"no_such_key", "1"},
    };
    const output_plugin_params_t params{4, items};
    Init i("stdout", "", "", &params);
    ASSERT_NE(i.context, nullptr);
    EXPECT_EQ(i.out, "\n[Postvane] Setting 'stdout' output plugin parameters:\n"
                     "\t\t\t\t'tag_match_pair' to 'app.x'\n"
                     "\t\t\t\t'Tag_Match_Pair' to 'y'\n"
                     "[Postvane] warning: failed to set output parameter 'Tag_Match_Pair' to 'y'\n"
                     "\t\t\t\t'Retry_Limit' to '3'\n"
                     "\t\t\t\t'no_such_key' to '1'\n"
                     "[Postvane] warning: failed to set output parameter 'no_such_key' to '1'\n");
}

TEST(ContextInit, ABadTagMatchPairNamesTheInputTagAndTheOutputMatch) {
    // The engine takes an empty pattern on neither side.
    const output_plugin_param_t items[] = {{"tag_match_pair", ""}, {"Retry_Limit", "2"}};
    const output_plugin_params_t params{2, items};
    Init i("stdout", "", "", &params);
    ASSERT_NE(i.context, nullptr);
    EXPECT_EQ(i.out, "\n[Postvane] Setting 'stdout' output plugin parameters:\n"
                     "\t\t\t\t'tag_match_pair' to ''\n"
                     "[Postvane] warning: failed to set input parameter 'tag' to ''\n"
                     "[Postvane] warning: failed to set output parameter 'match' to ''\n"
                     "\t\t\t\t'Retry_Limit' to '2'\n");
}

TEST(ContextInit, AnEmptyOrNullParameterListPrintsNothing) {
    const output_plugin_param_t items[] = {{"no_such_key", "1"}};
    const output_plugin_params_t none{0, items};
    const output_plugin_params_t negative{-3, items};
    for (const output_plugin_params_t *params : {&none, &negative,
                                                 static_cast<const output_plugin_params_t *>(nullptr)}) {
        Init i("stdout", "", "", params);
        ASSERT_NE(i.context, nullptr);
        EXPECT_EQ(i.out, "");
    }
}

TEST(ContextInit, MissingStringsCountAsNotGiven) {
    // A null string is taken as an empty one; a pair without key or value is skipped.
    const output_plugin_param_t items[] = {{nullptr, "v"}, {"Retry_Limit", nullptr},
                                           {"Retry_Limit", "2"}};
    const output_plugin_params_t params{3, items};
    Init i("stdout", nullptr, nullptr, &params, nullptr);
    ASSERT_NE(i.context, nullptr) << i.out;
    EXPECT_EQ(i.out, "\n[Postvane] Setting 'stdout' output plugin parameters:\n"
                     "[Postvane] warning: output parameter 0 has no key or no value, skipped\n"
                     "[Postvane] warning: output parameter 1 has no key or no value, skipped\n"
                     "\t\t\t\t'Retry_Limit' to '2'\n");
    EXPECT_NE(std::string(i.context->client_path).find("_-_stdout_defHost_defPort_0x"),
              std::string::npos)
        << i.context->client_path;
}

TEST(ContextInit, AnUnknownOutputFallsBackToForward) {
    SKIP_WITHOUT_OUTPUT("forward");
    const output_plugin_param_t items[] = {{"Retry_Limit", "1"}};
    const output_plugin_params_t params{1, items};
    Init i("no_such_output", "127.0.0.1", "1", &params);
    ASSERT_NE(i.context, nullptr);
    EXPECT_EQ(i.out, "[Postvane] warning: failed to cerate output instance 'no_such_output', will "
                     "use the default 'forward'\n"
                     "\n[Postvane] Setting 'no_such_output' output plugin parameters:\n"
                     "\t\t\t\t'Retry_Limit' to '1'\n");
}

TEST(ContextInit, AnEmptyOutputNameMeansForwardWithoutAWarning) {
    SKIP_WITHOUT_OUTPUT("forward");
    const output_plugin_param_t items[] = {{"Retry_Limit", "1"}};
    const output_plugin_params_t params{1, items};
    Init i("", "127.0.0.1", "1", &params);
    ASSERT_NE(i.context, nullptr);
    EXPECT_EQ(i.out, "\n[Postvane] Setting '' output plugin parameters:\n"
                     "\t\t\t\t'Retry_Limit' to '1'\n");
}

TEST(ContextInit, HostAndPortFailuresAreWarnings) {
    SKIP_WITHOUT_OUTPUT("forward");
    Init i("forward", "127.0.0.1", "not_a_port", nullptr);
    ASSERT_NE(i.context, nullptr);
    EXPECT_EQ(i.out, "[Postvane] warning: failed to set output parameter Port to 'not_a_port'\n");
}

TEST(ContextInit, AClientSocketThatCannotBeBoundGivesTheContextUp) {
    // The label ends up in the client path: a missing directory makes the bind fail.
    Init i("stdout", "", "", nullptr, "no_such_dir/x");
    EXPECT_EQ(i.context, nullptr);
    EXPECT_EQ(i.out, "[Postvane] Failed to bind client unix sock\n"
                     "[Postvane] critical: failed to cerate doorbell socket\n");
}

TEST(ContextInit, StringsTooLongForTheSocketPathsGiveTheContextUp) {
    const std::string label(90, 'l');
    Init i("stdout", "", "", nullptr, label.c_str());
    EXPECT_EQ(i.context, nullptr);
    EXPECT_EQ(i.out.rfind("[Postvane] critical: ", 0), 0u) << i.out;
    EXPECT_EQ(std::count(i.out.begin(), i.out.end(), '\n'), 1) << i.out;
}

} // namespace

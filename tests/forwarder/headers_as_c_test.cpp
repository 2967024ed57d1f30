// The public headers compile as C11 and describe the same layouts to C and C++.
#include <gtest/gtest.h>

#include "lwrb.h"
#include "postvane.h"

extern "C" size_t c_layout_of(int what);
extern "C" int c_calls_link(void);

TEST(PublicHeadersAsC, CAndCxxAgreeOnEveryLayout) {
    const size_t cxx[] = {sizeof(raw_context_t),          offsetof(raw_context_t, input_data),
                          sizeof(output_plugin_params_t), sizeof(output_plugin_param_t),
                          sizeof(lwrb_ring_t),            offsetof(lwrb_ring_t, guard_tail),
                          sizeof(doorbell_msg_t),         sizeof(raw_input_data_t)};
    for (int i = 0; i < static_cast<int>(std::size(cxx)); ++i)
        EXPECT_EQ(c_layout_of(i), cxx[i]) << i;
    EXPECT_EQ(c_calls_link(), 1);
}

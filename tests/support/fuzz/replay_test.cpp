// Replays a fuzz target's committed corpus (seeds and every input that once crashed)
// as a normal test, through the same target code.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(FuzzReplay, EveryCorpusInputRunsClean) {
    size_t inputs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(VEM_FUZZ_CORPUS)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream f(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++inputs;
    }
    EXPECT_GT(inputs, 0U);
}

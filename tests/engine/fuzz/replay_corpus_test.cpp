// Replays every input of the decoder's fuzz corpus (seeds and inputs that once failed)
// through the fuzz target, so that a plain test run keeps them passing.
#include <dirent.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(EventDecoderCorpus, EverySeedIsHandled) {
    DIR *dir = opendir(PV_FUZZ_CORPUS_DIR);
    ASSERT_NE(dir, nullptr) << PV_FUZZ_CORPUS_DIR;
    size_t seen = 0;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(std::string(PV_FUZZ_CORPUS_DIR) + "/" + e->d_name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        std::string bytes = s.str();
        SCOPED_TRACE(e->d_name);
        // Exact-size heap copy, so that a sanitizer sees any read past the end.
        std::vector<uint8_t> copy(bytes.begin(), bytes.end());
        EXPECT_EQ(LLVMFuzzerTestOneInput(copy.data(), copy.size()), 0);
        ++seen;
    }
    closedir(dir);
    EXPECT_GT(seen, 0u);
}

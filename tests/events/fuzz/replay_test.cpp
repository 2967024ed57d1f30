// Replays the committed seed corpus of the page walk fuzz target (and every input that
// once failed, added to it) in the normal test run.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<uint8_t> read_file(const std::string &path) {
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

TEST(PageWalkCorpus, EverySeedRuns) {
    DIR *dir = opendir(CORPUS_DIR);
    ASSERT_NE(dir, nullptr) << CORPUS_DIR;
    int files = 0;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::string path = std::string(CORPUS_DIR) + "/" + e->d_name;
        SCOPED_TRACE(path);
        std::vector<uint8_t> bytes = read_file(path);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++files;
    }
    closedir(dir);
    EXPECT_GT(files, 0);
}

}  // namespace

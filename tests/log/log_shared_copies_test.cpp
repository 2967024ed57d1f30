// Two copies of the library in one process, as a host and its plug-in: the plug-in's copy
// adopts the host's file sink and mutex, and lines of both copies stay whole.
#include <map>
#include <thread>

#include "log/logger_env_fixture.h"
#include "fixture/watchdog.h"

namespace logtest {
namespace {

constexpr int kLinesPerThread = 2000;
const std::string kPadding(200, 'x');

void write_lines(LoggerCopy &copy, char name) {
    for (int i = 0; i < kLinesPerThread; ++i)
        copy.log(6, "copy %c line %05d %s", name, i, kPadding.c_str());
}

TEST_F(LoggerTest, LinesOfTwoCopiesSharingOneFileNeverInterleave) {
    LoggerCopy plugin;
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    vem_logger_ctx_t *record = lib.get_ctx();
    ASSERT_NE(record, nullptr);
    ASSERT_NE(record->mutex, nullptr);
    ASSERT_TRUE(plugin.register_logger(record));
    lib.destroy_ctx(record);
    vem_logger_ctx_t host = lib.state(), adopted = plugin.state();
    ASSERT_EQ(adopted.file, host.file);
    ASSERT_EQ(adopted.mutex, host.mutex);

    {
        testhost::Watchdog watchdog("two copies logging");
        std::thread a(write_lines, std::ref(lib), 'A');
        std::thread b(write_lines, std::ref(plugin), 'B');
        a.join();
        b.join();
    }

    // Every line must read "[info] copy <A|B> line <nnnnn> <200 x>" behind its stamp.
    std::map<char, int> next{{'A', 0}, {'B', 0}};
    int bad = 0;
    for (const std::string &text : file_lines(file.str())) {
        char name = 0;
        int number = -1, end = 0;
        bool whole =
            sscanf(text.c_str(), "[info] copy %c line %5d %n", &name, &number, &end) == 2 &&
            next.count(name) && text.substr(end) == kPadding &&
            text.size() == static_cast<size_t>(end) + kPadding.size();
        if (!whole) {
            if (++bad <= 5)
                ADD_FAILURE() << "torn line: " << text;
            continue;
        }
        EXPECT_EQ(number, next[name]) << "copy " << name;
        next[name] = number + 1;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(next['A'], kLinesPerThread);
    EXPECT_EQ(next['B'], kLinesPerThread);
    lib.close_logger();
}

} // namespace
} // namespace logtest

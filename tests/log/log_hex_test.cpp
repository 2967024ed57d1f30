// Hex dump lines: sixteen cells in a 50-character hex part, the bar, the bytes as text.
#include "log/logger_env_fixture.h"

namespace logtest {
namespace {

// A short last line: the hex cells, padded to the fixed 50 characters of the hex part.
std::string short_line(const std::string &cells, const std::string &text) {
    return "[debug] " + cells + std::string(50 - cells.size(), ' ') + "|  " + text + " ";
}

struct HexCase {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
};

class HexDump : public LoggerTest, public ::testing::WithParamInterface<HexCase> {};

TEST_P(HexDump, WritesOneLinePerSixteenBytes) {
    const HexCase &c = GetParam();
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 7));
    lib.log(6, "start"); // everything before is the thread-safety lookup
    lib.hex(c.bytes.data(), c.bytes.size());
    std::vector<std::string> lines = file_lines(file.str());
    auto start = std::find(lines.begin(), lines.end(), "[info] start");
    ASSERT_NE(start, lines.end());
    EXPECT_EQ(std::vector<std::string>(start + 1, lines.end()), c.lines);
}

const std::string kDigits =
    "[debug] 30 31 32 33 34 35 36 37  38 39 41 42 43 44 45 46  |  0123456789ABCDEF ";

INSTANTIATE_TEST_SUITE_P(
    Table, HexDump,
    ::testing::Values(
        HexCase{"Sixteen", "0123456789ABCDEF", {kDigits}},
        HexCase{"Seventeen", "0123456789ABCDEFG", {kDigits, short_line("47 ", "G")}},
        HexCase{"Nine", "abcdefghi", {short_line("61 62 63 64 65 66 67 68  69 ", "abcdefghi")}},
        HexCase{"Unprintable",
                std::string("\x20\x7F\x80\x00\x1F\x7E\xFF", 7),
                {short_line("20 7F 80 00 1F 7E FF ", " ....~.")}},
        HexCase{"Empty", "", {}},
        HexCase{"ThirtyTwo", "0123456789ABCDEF0123456789ABCDEF", {kDigits, kDigits}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(LoggerTest, HexDumpBelowDebugWritesNothing) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    lib.hex("0123456789ABCDEF", 16);
    lib.hex(nullptr, 16);
    EXPECT_EQ(read_file(file.str()), "");
    lib.close_logger();
}

TEST_F(LoggerTest, HexDumpOfNoBufferWritesNothing) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 7));
    size_t lines = file_lines(file.str()).size();
    lib.hex(nullptr, 16);
    EXPECT_EQ(file_lines(file.str()).size(), lines);
    lib.close_logger();
}

} // namespace
} // namespace logtest

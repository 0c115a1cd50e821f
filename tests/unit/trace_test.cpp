#include "tools/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "transport/Log.h"

namespace fs = std::filesystem;
using zelscales::FormatTraceBlock;
using zelscales::TrafficBlock;

namespace {

TrafficBlock Made(const char* direction, std::vector<uint8_t> bytes, const char* line = "") {
    TrafficBlock b;
    b.direction = direction;
    b.time = "2026-12-09 11:02:17.097";
    b.line = line;
    b.bytes = std::move(bytes);
    return b;
}

std::vector<uint8_t> Counting(int n) {
    std::vector<uint8_t> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>('A' + i % 26));
    return v;
}

}  // namespace

TEST(TraceFormat, OneLinePerTransferAndEvent) {
    const std::string com = "COMPORT: /dev/ttyUSB0;9600\\None\\8\\1, Handshaking=0, xONxOFF=0";
    struct Case {
        TrafficBlock block;
        std::string text;
    } cases[] = {
        {Made("open", {'O', 'P', 'E', 'N'}, com.c_str()), "11:02:17.097 open     " + com + "\n"},
        {Made("open failed", {}, "ETHERNET: 10.0.0.5:20108"), "11:02:17.097 open failed ETHERNET: 10.0.0.5:20108\n"},
        {Made("close", {'C', 'L', 'O', 'S', 'E'}, com.c_str()), "11:02:17.097 close\n"},
        {Made("open", {}), "11:02:17.097 open\n"},
        {Made("sent", {0x05}), "11:02:17.097 sent     05  |.|\n"},
        {Made("received", {0x02, 'S', ' ', '2', 0x7F, 0xC3, 0x03}), "11:02:17.097 received 02 53 20 32 7F C3 03  |.S 2...|\n"},
        {Made("sys", {}), "11:02:17.097 sys\n"},
        // Twenty bytes are one row, as they come.
        {Made("received", Counting(20)),
         "11:02:17.097 received 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54  |ABCDEFGHIJKLMNOPQRST|\n"},
        // More go on in rows of twenty under the first, text columns aligned.
        {Made("sent", Counting(21)),
         "11:02:17.097 sent     41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54  |ABCDEFGHIJKLMNOPQRST|\n"
         "                      55                                                           |U|\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatTraceBlock(c.block), c.text) << c.block.direction;

    // A time of another form is shown as it is.
    TrafficBlock odd = Made("sent", {0x31});
    odd.time = "junk";
    EXPECT_EQ(FormatTraceBlock(odd), "junk         sent     31  |1|\n");
    TrafficBlock many = Made("received", Counting(1000));
    const std::string rows = FormatTraceBlock(many);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 50);
}

// The driver's own blocks, read while the log grows: each block comes out as
// soon as its last row is in, not only when the next one begins.
TEST(TraceFollow, BlocksOfALiveLogComeOutWhole) {
    const platform::LocalTime t{2026, 12, 9, 11, 2, 17, 97};
    const std::string line = zel::TrafficComLine("/dev/ttyS0", 9600, 0, 8, 0, 0, 0);
    const std::vector<std::pair<int, std::string>> transfers = {
        {0, "OPEN"}, {1, std::string("\x05", 1)}, {2, std::string(45, 'x')}, {2, std::string("\x06", 1)}, {0, "CLOSE"}};
    for (size_t piece : {1u, 7u, 64u, 100000u}) {
        std::string log;
        std::vector<size_t> ends;  // where each block's text ends
        for (const auto& tr : transfers) {
            log += zel::TrafficBlock(tr.first, reinterpret_cast<const unsigned char*>(tr.second.data()),
                                     static_cast<int32_t>(tr.second.size()), line, t);
            ends.push_back(log.size());
        }
        zelscales::TrafficLogParser parser;
        std::vector<TrafficBlock> got;
        for (size_t at = 0; at < log.size(); at += piece) {
            const size_t to = std::min(log.size(), at + piece);
            parser.Feed(log.substr(at, to - at));
            parser.EndWholeBlock();
            for (TrafficBlock& b : parser.TakeBlocks()) got.push_back(std::move(b));
            size_t whole = 0;
            for (size_t e : ends) whole += e <= to ? 1 : 0;
            ASSERT_EQ(got.size(), whole) << "piece " << piece << " at " << to;
        }
        parser.Finish();
        EXPECT_TRUE(parser.TakeBlocks().empty());
        EXPECT_TRUE(parser.TakeProblems().empty()) << piece;
        ASSERT_EQ(got.size(), transfers.size());
        const char* directions[] = {"open", "sent", "received", "received", "close"};
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].direction, directions[i]);
            EXPECT_EQ(std::string(got[i].bytes.begin(), got[i].bytes.end()), transfers[i].second);
            EXPECT_EQ(got[i].line, line);
        }
    }
}

TEST(TraceSession, CopiesIntoAPrivateFolderAndRemovesIt) {
    const fs::path user = fs::temp_directory_path() / ("zelscales-trace-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(user);
    fs::create_directories(user);
    std::ofstream(user / "driver.so") << "not a library";
    std::ofstream(user / "settings.ini") << "[SCALES0]\nfNum=1\n";

    zelscales::Options options;
    options.library = (user / "driver.so").string();
    fs::path folder;
    {
        zelscales::TraceSession trace;
        std::string error;
        ASSERT_TRUE(trace.Start(options, error)) << error;
        folder = trace.Folder();
        EXPECT_NE(folder.parent_path(), user);
        EXPECT_EQ(fs::path(options.library), folder / "driver.so");
        EXPECT_TRUE(fs::exists(folder / "log.txt"));
        std::ifstream settings(folder / "settings.ini");
        std::string first;
        std::getline(settings, first);
        EXPECT_EQ(first, "[SCALES0]");
        // A log the follower reads, then the end.
        std::ofstream(folder / "log_scales_1.log") << "not a traffic log\n";
    }
    EXPECT_FALSE(fs::exists(folder));
    // The user's folder is as it was.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(user)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"driver.so", "settings.ini"}));
    fs::remove_all(user);

    zelscales::TraceSession missing;
    zelscales::Options none;
    none.library = (user / "no-such.so").string();
    std::string error;
    EXPECT_FALSE(missing.Start(none, error));
    EXPECT_NE(error.find("no-such.so"), std::string::npos);
    EXPECT_TRUE(missing.Folder().empty());
}

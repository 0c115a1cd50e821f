// `zelscales decode`: a device traffic log, block by block.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/json.h"
#include "tools/traffic_log.h"

using namespace zelscales;

int RunDecode(int argc, char** argv) {
    std::string path;
    bool asJson = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) asJson = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "zelscales decode: unknown option %s\n", argv[i]);
            return 2;
        } else if (path.empty()) path = argv[i];
        else {
            std::fprintf(stderr, "zelscales decode: one log file only\n");
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: zelscales decode LOG [--json]\n");
        return 2;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zelscales decode: cannot open %s\n", path.c_str());
        return 1;
    }
    // Read in pieces so a huge log never has to fit in memory at once.
    TrafficLogParser parser;
    char chunk[65536];
    auto flush = [&] {
        for (const TrafficBlock& b : parser.TakeBlocks()) {
            if (asJson) {
                json::Object o;
                o.Int("line", b.lineNumber).String("time", b.time).String("direction", b.direction);
                o.String("port", b.line).String("hex", HexOf(b.bytes)).String("text", TextOf(b.bytes));
                std::printf("%s\n", o.Text().c_str());
            } else {
                std::printf("%s  %-8s %s", b.time.c_str(), b.direction.c_str(), HexOf(b.bytes).c_str());
                std::printf("  |%s|\n", TextOf(b.bytes).c_str());
            }
        }
        for (const TrafficProblem& p : parser.TakeProblems())
            std::fprintf(stderr, "zelscales decode: %s line %d: %s, skipped\n", path.c_str(), p.lineNumber,
                         p.text.c_str());
    };
    while (in) {
        in.read(chunk, sizeof(chunk));
        std::streamsize n = in.gcount();
        if (n <= 0) break;
        parser.Feed(std::string(chunk, static_cast<size_t>(n)));
        flush();
    }
    parser.Finish();
    flush();
    return 0;
}

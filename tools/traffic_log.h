// Reading a device traffic log back: its blocks of bytes sent, received and
// line events, from a Windows (CR LF) or Linux (LF) file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelscales {

struct TrafficBlock {
    std::string direction;    // "open", "close", "sent", "received", or "sys"
    std::string time;         // "2020-03-05 14:07:09.042"
    std::string line;         // the line description (COMPORT: ... / ETHERNET: ...)
    std::vector<uint8_t> bytes;
    int declared = 0;         // the block header's byte count
    int lineNumber = 0;       // of the header line, from 1
};

struct TrafficProblem {
    int lineNumber = 0;
    std::string text;
};

struct TrafficLog {
    std::vector<TrafficBlock> blocks;
    std::vector<TrafficProblem> problems;
};

// Incremental reader: feed any pieces of the file, then Finish.
class TrafficLogParser {
public:
    void Feed(const std::string& data);
    void Finish();
    // Ends the block being read when it already holds every byte its header
    // declares, so that a log still being written yields its last block now
    // rather than when the next one begins.
    void CloseComplete();
    // Blocks completed so far, taken out of the parser.
    std::vector<TrafficBlock> TakeBlocks();
    std::vector<TrafficProblem> TakeProblems();

private:
    void Line(std::string line);
    void Close();
    std::string pending_;
    int lineNumber_ = 0;
    bool inBlock_ = false;
    int stage_ = 0;  // 0 header seen, 1 description seen, 2 rows
    TrafficBlock current_;
    std::vector<TrafficBlock> done_;
    std::vector<TrafficProblem> problems_;
};

TrafficLog ParseTrafficLog(const std::string& text);

// "4F 50 45 4E" and the printable text ("." for control bytes).
std::string HexOf(const std::vector<uint8_t>& bytes);
std::string TextOf(const std::vector<uint8_t>& bytes);

}  // namespace zelscales

// `zelscales decode LOG [--json]` (argv[0] is "decode").
int RunDecode(int argc, char** argv);

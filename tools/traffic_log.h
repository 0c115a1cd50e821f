// Reading a device traffic log back: its blocks of bytes sent, received and
// line events, from a Windows (CR LF) or Linux (LF) file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/text.h"

namespace zelscales {

struct TrafficBlock {
    std::string direction;    // "open", "close", "sent", "received", or "sys"
    std::string time;         // "2020-03-05 14:07:09.042"
    int64_t msOfDay = -1;     // its clock in milliseconds since midnight; -1 unreadable
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
    // Ends the block being read when it holds every byte its header
    // declares: for a log that is followed while it is written, where the
    // next block's header comes only with the next transfer.
    void EndWholeBlock();
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

// A traffic log followed while the driver writes it: each Take reads what
// the file gained and hands back the blocks completed. A file shorter than
// what was read (a new log under the same name) is read from its start.
class TrafficLogFollower {
public:
    // `fromEnd`: what the file holds now is not taken.
    TrafficLogFollower(std::filesystem::path path, bool fromEnd);
    // `last`: the writer is gone and the log is whole. `raw` gets the text
    // as written.
    std::vector<TrafficBlock> Take(bool last = false, std::string* raw = nullptr);
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
    std::uintmax_t offset_ = 0;
    TrafficLogParser parser_;
};

// "4F 50 45 4E" and the printable text ("." for control bytes), from
// tools/text.h.
using text::HexOf;
using text::TextOf;

}  // namespace zelscales

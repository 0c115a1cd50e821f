#include "tools/traffic_log.h"

#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

#include "tools/text.h"

namespace zelscales {

namespace {

constexpr size_t kMaxLine = 4096;     // a longer line is no log line; cut it
constexpr int kMaxBlockBytes = 1 << 24;

bool AllDigits(const std::string& s, size_t from, size_t n) {
    if (s.size() < from + n) return false;
    for (size_t i = from; i < from + n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

}  // namespace

void TrafficLogParser::Feed(const std::string& data) {
    for (char c : data) {
        if (c == '\n') {
            ++lineNumber_;
            if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
            Line(std::move(pending_));
            pending_.clear();
        } else if (pending_.size() < kMaxLine) {
            pending_.push_back(c);
        }
    }
}

void TrafficLogParser::Finish() {
    if (!pending_.empty()) {
        ++lineNumber_;
        if (pending_.back() == '\r') pending_.pop_back();
        Line(std::move(pending_));
        pending_.clear();
    }
    Close();
}

void TrafficLogParser::EndWholeBlock() {
    if (inBlock_ && stage_ == 2 && current_.declared > 0 && static_cast<int>(current_.bytes.size()) == current_.declared)
        Close();
}

std::vector<TrafficBlock> TrafficLogParser::TakeBlocks() { return std::move(done_); }
std::vector<TrafficProblem> TrafficLogParser::TakeProblems() { return std::move(problems_); }

void TrafficLogParser::Close() {
    if (!inBlock_) return;
    inBlock_ = false;
    if (static_cast<int>(current_.bytes.size()) != current_.declared)
        problems_.push_back({current_.lineNumber, "block declares " + std::to_string(current_.declared) +
                                                      " bytes, holds " + std::to_string(current_.bytes.size())});
    if (current_.direction == "sys") {
        std::string t(current_.bytes.begin(), current_.bytes.end());
        if (t == "OPEN") current_.direction = "open";
        else if (t == "CLOSE") current_.direction = "close";
        else if (t == "ERROR_OPEN") current_.direction = "open failed";
    }
    done_.push_back(std::move(current_));
    current_ = TrafficBlock();
}

namespace {

// "2020-03-05 14:07:09.042": 50829042; -1 for another text.
int64_t MsOfDay(std::string_view time) {
    if (time.size() != 23 || time[10] != ' ' || time[13] != ':' || time[16] != ':' || time[19] != '.') return -1;
    int h = 0, m = 0, s = 0, ms = 0;
    if (!text::ParseInteger(time.substr(11, 2), 0, 23, h) || !text::ParseInteger(time.substr(14, 2), 0, 59, m) ||
        !text::ParseInteger(time.substr(17, 2), 0, 60, s) || !text::ParseInteger(time.substr(20, 3), 0, 999, ms))
        return -1;
    return ((static_cast<int64_t>(h) * 60 + m) * 60 + s) * 1000 + ms;
}

}  // namespace

void TrafficLogParser::Line(std::string line) {
    if (line.empty()) return;
    if (line.find_first_not_of('_') == std::string::npos) {
        Close();
        return;
    }
    size_t bytesAt = line.find(" ---- Bytes:");
    if (bytesAt != std::string::npos && bytesAt >= 23 + 2) {
        Close();
        std::string label = line.substr(0, 10);
        TrafficBlock block;
        block.lineNumber = lineNumber_;
        block.time = line.substr(bytesAt - 23, 23);
        block.msOfDay = MsOfDay(block.time);
        if (label.compare(0, 3, "SYS") == 0) block.direction = "sys";
        else if (label.compare(0, 2, "IN") == 0) block.direction = "received";
        else if (label.compare(0, 3, "OUT") == 0) block.direction = "sent";
        else {
            problems_.push_back({lineNumber_, "unknown direction"});
            return;
        }
        long n = 0;
        size_t i = bytesAt + 12;
        while (i < line.size() && line[i] == ' ') ++i;
        size_t digits = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 9) n = n * 10 + (line[i++] - '0'), ++digits;
        if (digits == 0 || n > kMaxBlockBytes) {
            problems_.push_back({lineNumber_, "bad byte count"});
            return;
        }
        block.declared = static_cast<int>(n);
        current_ = std::move(block);
        inBlock_ = true;
        stage_ = 0;
        return;
    }
    if (!inBlock_) {
        problems_.push_back({lineNumber_, "not a traffic log line"});
        return;
    }
    if (AllDigits(line, 0, 5) && line.size() > 5 && line[5] == ':') {
        long long at = 0;
        text::ParseInteger(std::string_view(line).substr(0, 5), 0, 99999, at);
        if (at != static_cast<long long>(current_.bytes.size()) + 1) {
            problems_.push_back({lineNumber_, "row out of order"});
            return;
        }
        // Twenty columns of " XX" with " |" before the eleventh.
        std::vector<uint8_t> row;
        size_t pos = 6;
        for (int col = 0; col < 20; ++col) {
            if (col == 10) {
                if (line.compare(pos, 2, " |") != 0) break;
                pos += 2;
            }
            if (pos + 3 > line.size() || line[pos] != ' ') break;
            int hi = text::HexDigit(line[pos + 1]), lo = text::HexDigit(line[pos + 2]);
            pos += 3;
            if (hi < 0 || lo < 0) break;
            row.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        if (row.empty()) {
            problems_.push_back({lineNumber_, "row without bytes"});
            return;
        }
        if (static_cast<long>(current_.bytes.size() + row.size()) > current_.declared) {
            problems_.push_back({lineNumber_, "more bytes than the block declares"});
            return;
        }
        current_.bytes.insert(current_.bytes.end(), row.begin(), row.end());
        stage_ = 2;
        return;
    }
    if (line.compare(0, 4, "  N ") == 0) return;
    if (stage_ == 0) {
        current_.line = line;
        stage_ = 1;
        return;
    }
    problems_.push_back({lineNumber_, "not a traffic log line"});
}

TrafficLog ParseTrafficLog(const std::string& text) {
    TrafficLogParser parser;
    parser.Feed(text);
    parser.Finish();
    return TrafficLog{parser.TakeBlocks(), parser.TakeProblems()};
}

TrafficLogFollower::TrafficLogFollower(std::filesystem::path path, bool fromEnd) : path_(std::move(path)) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path_, ec);
    if (fromEnd && !ec) offset_ = size;
}

std::vector<TrafficBlock> TrafficLogFollower::Take(bool last, std::string* raw) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path_, ec);
    if (!ec && size < offset_) offset_ = 0;
    std::ifstream in(path_, std::ios::binary);
    if (!ec && in && in.seekg(static_cast<std::streamoff>(offset_))) {
        char chunk[16384];
        while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
            const std::string piece(chunk, static_cast<size_t>(in.gcount()));
            offset_ += piece.size();
            if (raw) *raw += piece;
            parser_.Feed(piece);
        }
    }
    if (last) parser_.Finish();
    else parser_.EndWholeBlock();
    parser_.TakeProblems();
    return parser_.TakeBlocks();
}

}  // namespace zelscales

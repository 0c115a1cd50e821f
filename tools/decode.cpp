// `zelscales decode`: a device traffic log, block by block.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fstream>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/exchange/PolledProtocol.h"
#include "scales/listener/ListenerScale.h"
#include "tools/commands.h"
#include "tools/detect_plan.h"
#include "tools/json.h"
#include "tools/trace.h"
#include "tools/traffic_log.h"

using namespace zelscales;

namespace {

// The exchanges of one model in a log, judged by the driver's own frame
// checks and decoders: what a polled model received after each request, or
// what a scale that talks by itself sent while the line was open.
class ExchangeJudge {
public:
    ExchangeJudge(const zel::devices::ModelInfo& row, bool asJson) : row_(row), asJson_(asJson) {
        const zel::exchange::PolledProtocol* p = zel::devices::PolledProtocolOf(row.number);
        asks_ = p && p->requestLength > 0;
        pushes_ = detect::Pushes(row.number);
        // A polled model that transmits all the time: what the driver read
        // while the line was open holds the frames it took.
        if (p && (p->requestLength == 0 || p->stream)) stream_ = p;
    }

    void Block(const TrafficBlock& b) {
        if (pushes_) {
            // A scale that pushes readings: what was received is judged as
            // its listener reads it, with a verdict per frame. One read may
            // be logged as several blocks (a frame read byte by byte, or in
            // the pieces the line handed over), so blocks run on into one
            // another; a read ends where the line fell silent for its whole
            // budget, or where the line opened, closed or was written to.
            const int64_t at = b.msOfDay;
            if (b.direction != "received" || (!received_.empty() && Silent(lastReceivedMs_, at))) Presses();
            if (b.direction == "received") {
                received_.insert(received_.end(), b.bytes.begin(), b.bytes.end());
                lastReceivedMs_ = at;
            }
            return;
        }
        if (b.direction == "received") {
            received_.insert(received_.end(), b.bytes.begin(), b.bytes.end());
            return;
        }
        if (b.direction == "sent") {
            // A request sent in parts (a first byte, a pause, the rest) is one
            // request: the reply is what comes after its last part.
            if (!received_.empty()) Verdict();
            asked_ = true;
            return;
        }
        // The line opened, closed or failed to open: what came before is whole.
        Verdict();
    }
    void Finish() {
        if (pushes_) Presses();
        Verdict();
    }

private:
    void Verdict() {
        // A polled model's verdict is on a request; a talking scale's on
        // what it sent.
        if (asks_ ? !asked_ : received_.empty()) {
            received_.clear();
            return;
        }
        if (stream_ && Frames()) {
            received_.clear();
            asked_ = false;
            return;
        }
        const detect::Verdict v = asks_ ? detect::JudgeReply(row_.number, received_.data(), received_.size())
                                        : detect::JudgeHeard(row_.number, received_.data(), received_.size());
        Print(v, received_.size(), asks_ ? zel::exchange::RefusalText(v.refusal) : "");
        received_.clear();
        asked_ = false;
    }

    // The presses in what was received since the last silence.
    void Presses() {
        for (const detect::Press& p : detect::JudgePresses(row_.number, received_.data(), received_.size())) {
            detect::Verdict v;
            v.ok = p.taken;
            v.reading = p.reading;
            Print(v, p.end - p.start, p.taken ? "" : p.why);
        }
        received_.clear();
    }

    // The listener's read ran out of budget between these two blocks (a
    // time that cannot be read parts nothing; midnight lies between a later
    // time and an earlier one).
    static bool Silent(int64_t before, int64_t after) {
        if (before < 0 || after < 0) return false;
        int64_t gap = after - before;
        if (gap < 0) gap += 24 * 3600 * 1000;
        return gap >= static_cast<int64_t>(zel::listener::kReadBudgetMs);
    }

    // A refusal's text: what the bytes are not, and the reason.
    std::string Why(size_t bytes, const std::string& reason) const {
        if (bytes == 0) return "no reply";
        return std::to_string(bytes) + (bytes == 1 ? " byte that makes" : " bytes that make") + " no frame of model " +
               std::to_string(row_.number) + (reason.empty() ? "" : ": " + reason) +
               " (a wrong speed or model? try zelscales detect)";
    }

    // Every frame of a stream in what was received, found as the driver's
    // hunt finds it (each header byte, the engine's judgement of the frame
    // from there), one verdict each; the part of a frame the line was
    // opened into, or closed inside, is none. False when there is no frame.
    bool Frames() {
        const uint8_t* b = received_.data();
        const size_t count = received_.size();
        bool any = false;
        for (size_t at = 0; at < count;) {
            const zel::exchange::ReplyJudgement j = zel::exchange::JudgeFrame(*stream_, b + at, count - at);
            if (j.refusal == zel::exchange::Refusal::kShort) break;
            if (j.refusal != zel::exchange::Refusal::kNone || j.length == 0) {
                ++at;
                continue;
            }
            detect::Verdict v;
            v.ok = true;
            v.frames = 1;
            v.reading = j.reading;
            v.result = j.decoded.result;
            v.refusal = j.refusal;
            Print(v, j.length, "");
            any = true;
            at += j.length;
        }
        return any;
    }

    void Print(const detect::Verdict& v, size_t bytes, const std::string& reason) {
        const std::string why = v.ok ? std::string() : Why(bytes, reason);
        if (asJson_) {
            json::Object o;
            o.String("verdict", v.ok ? "reading" : "refused").Int("model", row_.number).Int("bytes", bytes);
            if (v.ok) {
                o.Int("result", v.result).Number("weight", v.reading.weight).String("unit", row_.unit);
                o.Number("price", v.reading.price).Number("cost", v.reading.cost);
                // Where the format carries no stable flag the decoder's constant says nothing.
                if (row_.reportsStable) o.Int("stable", v.reading.stable);
                else o.Null("stable");
            } else {
                o.String("why", why);
            }
            std::printf("%s\n", o.Text().c_str());
        } else if (v.ok) {
            std::printf("  => model %d: weight %g %s, price %g, cost %g%s (result %d)\n", row_.number, v.reading.weight,
                        row_.unit, v.reading.price, v.reading.cost,
                        !row_.reportsStable ? "" : v.reading.stable ? ", stable" : ", not stable", v.result);
        } else {
            std::printf("  => model %d refuses it: %s\n", row_.number, why.c_str());
        }
    }

    const zel::devices::ModelInfo& row_;
    const zel::exchange::PolledProtocol* stream_ = nullptr;
    bool asJson_;
    bool pushes_ = false;
    bool asks_ = false;
    bool asked_ = false;  // a request went out since the last verdict
    std::vector<uint8_t> received_;
    int64_t lastReceivedMs_ = -1;  // pushing models: when the last bytes came
};

}  // namespace

const char kDecodeUsage[] =
    "usage: zelscales decode LOG [--model N] [--json]\n"
    "\n"
    "Prints a device traffic log block by block: time, direction, bytes, text. With --model N\n"
    "each exchange is judged by that model's own frame checks and decoders: the reading, or no\n"
    "reply, or bytes that make no frame. --json prints one JSON object per block and verdict.\n";

const char* zelscales::DecodeUsage() { return kDecodeUsage; }

int zelscales::RunDecode(const Options& o) {
    const std::string& path = o.log;
    const bool asJson = o.json;
    const zel::devices::ModelInfo* row = o.model < 0 ? nullptr : zel::devices::FindModel(o.model);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zelscales decode: cannot open %s\n", path.c_str());
        return 1;
    }
    // Read in pieces so a huge log never has to fit in memory at once.
    TrafficLogParser parser;
    std::unique_ptr<ExchangeJudge> judge;
    if (row) judge = std::make_unique<ExchangeJudge>(*row, asJson);
    char chunk[65536];
    LineSettingsNotes notes;
    // Until a block is seen the file may be no traffic log at all: its
    // problems wait, and such a file is one error at the end.
    bool sawBlock = false;
    std::vector<TrafficProblem> waiting;
    size_t problems = 0;
    auto warn = [&](const TrafficProblem& p) {
        std::fprintf(stderr, "zelscales decode: %s line %d: %s, skipped\n", path.c_str(), p.lineNumber,
                     p.text.c_str());
    };
    auto flush = [&] {
        std::vector<TrafficBlock> blocks = parser.TakeBlocks();
        std::vector<TrafficProblem> found = parser.TakeProblems();
        problems += found.size();
        if (!sawBlock && !blocks.empty()) {
            sawBlock = true;
            for (const TrafficProblem& p : waiting) warn(p);
            waiting.clear();
        }
        for (const TrafficProblem& p : found) {
            if (sawBlock) warn(p);
            else if (waiting.size() < 100) waiting.push_back(p);
        }
        for (const TrafficBlock& b : blocks) {
            // The settings the block ran at, where they are not the open's.
            const std::string note = notes.Note(b);
            if (asJson) {
                json::Object o;
                o.Int("line", b.lineNumber).String("time", b.time).String("direction", b.direction);
                o.String("port", b.line);
                const std::string settings = LineSettingsOf(b.line);
                if (settings.empty()) o.Null("settings");
                else o.String("settings", settings);
                if (note.size() > settings.size()) o.String("note", note.substr(settings.size() + 2, note.size() - settings.size() - 3));
                o.String("hex", HexOf(b.bytes)).String("text", TextOf(b.bytes));
                std::printf("%s\n", o.Text().c_str());
            } else {
                if (!note.empty()) std::printf("%s  %-8s %s\n", b.time.c_str(), "settings", note.c_str());
                std::printf("%s  %-8s %s", b.time.c_str(), b.direction.c_str(), HexOf(b.bytes).c_str());
                std::printf("  |%s|\n", TextOf(b.bytes).c_str());
            }
            if (judge) judge->Block(b);
        }
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
    if (!sawBlock && problems > 0) {
        std::fprintf(stderr, "zelscales decode: %s is not a traffic log (line %d: %s; %zu such lines)\n",
                     path.c_str(), waiting.empty() ? 0 : waiting[0].lineNumber,
                     waiting.empty() ? "" : waiting[0].text.c_str(), problems);
        return 1;
    }
    if (judge) judge->Finish();
    return 0;
}

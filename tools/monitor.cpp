// `zelscales monitor`: a line terminal for the technician. It opens a serial
// port or a TCP connection itself (no driver, no model needed), prints every
// chunk of bytes that passes with its time and the gap before it, writes the
// bytes asked for, once or periodically, and with --model judges what
// arrives by that model's own frame checks and decoders.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "platform/net.h"
#include "platform/sys.h"
#include "scales/exchange/Exchange.h"
#include "tools/commands.h"
#include "tools/detect_plan.h"
#include "tools/json.h"
#include "tools/text.h"
#include "tools/trace.h"
#include "tools/traffic_log.h"
#include "tools/why.h"
#include "transport/COMPort.h"
#include "transport/Log.h"
#include "transport/ZelSocket.h"

using namespace zelscales;

namespace {

const char kMonitorUsage[] =
    "usage: zelscales monitor (--port NAME [--baud B] [--framing 8N1] | --host H [--tcp-port P])\n"
    "                         [--send BYTES]... [--every MS] [--pause MS] [--for MS] [--count N]\n"
    "                         [--quiet MS] [--model N] [--json] [--trace]\n"
    "\n"
    "Prints what passes on the line, one line per chunk of up to 16 bytes: the time since\n"
    "the start and the gap before the chunk in milliseconds, the direction, the bytes in hex\n"
    "and as text ('.' for a byte that is not printable). Needs no model and sends nothing\n"
    "unless asked.\n"
    "  --baud B         serial speed, 50 to 4000000 (default 4800)\n"
    "  --framing DPS    data bits 5-8, parity N E O M S, stop bits 1 or 2 (default 8N1;\n"
    "                   with --model, that model's framing)\n"
    "  --send BYTES     bytes to write: hex bytes (\"05\", \"02 05 03\", \"0511\"), or else text\n"
    "                   with C escapes (\"W\\r\\n\", \"\\x05\"); repeatable, written in order\n"
    "  --every MS       write the --send bytes again every MS (default: once, at the start)\n"
    "  --pause MS       pause between successive --send values (default 150)\n"
    "  --for MS         end after MS milliseconds\n"
    "  --count N        end after N chunks received (with --model: N frames judged)\n"
    "  --quiet MS       a silence this long ends a chunk (default 20 ms and 3 byte times)\n"
    "  --model N        judge every frame by that model's checks and decoders: the reading,\n"
    "                   or why it was refused\n"
    "  --json           one JSON object per chunk and per verdict\n"
    "  --trace          the line's open and close and every transfer on stderr as well\n"
    "Ends on --for, --count, Ctrl-C or SIGTERM. Exit status: 0 done, 1 the line did not open\n"
    "or was lost (with --model: or no frame was taken as a reading), 2 bad command line.\n";

// The serial framing asked for, as the serial line takes it.
struct Framing {
    int dataBits = 8;
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;  // 0 one, 2 two
    std::string text = "8N1";
};

bool ParseFraming(const std::string& text, Framing& out) {
    if (text.size() != 3 || text[0] < '5' || text[0] > '8' || (text[2] != '1' && text[2] != '2')) return false;
    static const char kParities[] = "NOEMS";
    const char p = static_cast<char>(text[1] >= 'a' ? text[1] - ('a' - 'A') : text[1]);
    int parity = -1;
    for (int i = 0; i < 5; ++i)
        if (kParities[i] == p) parity = i;
    if (parity < 0) return false;
    out.dataBits = text[0] - '0';
    out.parity = parity;
    out.stopBits = text[2] == '2' ? 2 : 0;
    out.text = std::string(1, text[0]) + p + text[2];
    return true;
}

// --send's value: hex when it is nothing but groups of hex digit pairs
// separated by spaces ("05", "02 05 03", "0511"); otherwise text with C
// escapes (\r \n \t \0 \\ \xHH). False for an empty value or a broken escape.
bool ParseSend(const std::string& text, std::string& out) {
    if (text::ParseHexBytes(text, out)) return true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case '0': out += '\0'; break;
            case '\\': out += '\\'; break;
            case 'x': {
                const int h = i + 1 < text.size() ? text::HexDigit(text[i + 1]) : -1;
                const int l = i + 2 < text.size() ? text::HexDigit(text[i + 2]) : -1;
                if (h < 0 || l < 0) return false;
                out += static_cast<char>(h * 16 + l);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return !out.empty();
}

// The line the monitor drives: a serial port or a TCP connection.
class Line {
public:
    virtual ~Line() = default;
    // Bytes read (0: none waiting); -1 when the line failed or the other end closed it.
    virtual int Read(char* buffer, int size) = 0;
    virtual int Write(const std::string& bytes) = 0;
    virtual void Wait(unsigned ms) = 0;
};

class SerialLine : public Line {
public:
    SerialLine(const std::string& name, int baud, const Framing& f) : port_(name.c_str()) {
        port_.SetBaudRate(baud);
        port_.SetByteSize(static_cast<uint8_t>(f.dataBits));
        port_.SetParity(static_cast<uint8_t>(f.parity));
        port_.SetStopBits(static_cast<uint8_t>(f.stopBits));
    }
    int Read(char* buffer, int size) override {
        try {
            return port_.Read(buffer, size);
        } catch (const std::exception&) {
            return -1;
        }
    }
    int Write(const std::string& bytes) override {
        try {
            return port_.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
        } catch (const std::exception&) {
            return -1;
        }
    }
    void Wait(unsigned ms) override {
        try {
            port_.WaitForInput(ms);
        } catch (const std::exception&) {
        }
    }

private:
    COMPort port_;
};

class TcpLine : public Line {
public:
    bool Connect(const std::string& host, int port) {
        platform::NetStartup();  // Windows Sockets; nothing elsewhere
        return socket_.Connect(host.c_str(), static_cast<uint16_t>(port)) == 0;
    }
    int Read(char* buffer, int size) override {
        const int n = socket_.Receive(buffer, size);
        return n < 0 || (n == 0 && socket_.PeerClosed()) ? -1 : n;
    }
    int Write(const std::string& bytes) override {
        int sent = 0;
        while (sent < static_cast<int>(bytes.size())) {
            const int n = socket_.Send(bytes.data() + sent, static_cast<int32_t>(bytes.size()) - sent);
            if (n <= 0) return sent > 0 ? sent : -1;
            sent += n;
        }
        return sent;
    }
    void Wait(unsigned ms) override { socket_.WaitForInput(ms); }

private:
    CZelClientSocket socket_;
};

// The run's output: chunks and verdicts, as text or JSON lines.
class Printer {
public:
    Printer(bool json, uint64_t start) : json_(json), start_(start), startUnix_(json::NowUnixMs()) {}

    // The wall-clock time of a monotonic instant of the run, for JSON.
    std::string TimeOf(uint64_t at) const { return json::IsoUtc(startUnix_ + static_cast<int64_t>(at - start_)); }

    // A chunk of bytes that passed the line: `at` when its first byte came
    // (or it was written), `gap` since the end of the chunk before it.
    void Chunk(const char* direction, const std::string& bytes, uint64_t at, uint64_t gap) const {
        if (bytes.empty()) return;
        const std::string_view b = bytes;
        if (json_) {
            json::Object o;
            o.String("time", TimeOf(at)).Int("result", 0).Int("ms", static_cast<int64_t>(at - start_));
            o.Int("gapMs", static_cast<int64_t>(gap)).String("direction", direction);
            o.Int("bytes", static_cast<int64_t>(b.size())).String("hex", HexOf(b)).String("text", TextOf(b));
            std::printf("%s\n", o.Text().c_str());
        } else {
            const std::string gapText = "+" + std::to_string(gap);
            std::printf("%8llu ms %-8s %-4s  %-47s  |%s|\n", static_cast<unsigned long long>(at - start_),
                        gapText.c_str(), direction, HexOf(b).c_str(), TextOf(b).c_str());
        }
        std::fflush(stdout);
    }

    void Verdict(const json::Object& o, const std::string& text) const {
        std::printf("%s\n", json_ ? o.Text().c_str() : text.c_str());
        std::fflush(stdout);
    }

    uint64_t start() const { return start_; }

private:
    bool json_;
    uint64_t start_;
    int64_t startUnix_;
};

// Frames judged live by one model, as the driver's read cycle judges a
// reply: a polled model's reply to a request (what came since the request,
// once the line is quiet), a continuously sending scale's frames one by one,
// and a scale that pushes readings burst by burst.
class LiveJudge {
public:
    // `limit`: the verdicts told at most (0: no limit), so that --count ends
    // on its frame even when one row of bytes completes two.
    LiveJudge(const zel::devices::ModelInfo& row, const Printer& printer, int limit)
        : row_(row), printer_(printer), protocol_(zel::devices::PolledProtocolOf(row.number)), limit_(limit) {}

    int verdicts() const { return verdicts_; }
    int readings() const { return readings_; }

    // A request goes out: what came since the last one is its reply, whole.
    void Request() {
        Final();
        asked_ = true;
    }
    void Received(const char* data, int n) {
        pending_.append(data, static_cast<size_t>(n));
        if (Streaming()) Scan();
        if (pending_.size() > kMaxPending) Final();  // a flood of bytes that make no frame
    }
    // The line went quiet: a reply that is whole is judged now; one still
    // short waits for more bytes, the next request or the end.
    void Quiet() {
        if (pending_.empty()) return;
        if (Streaming()) {
            Scan();
            if (!pending_.empty())
                Refused(pending_.size(), firstRefusal_.empty() ? zel::exchange::RefusalText(zel::exchange::Refusal::kShort)
                                                               : firstRefusal_);
            pending_.clear();
            firstRefusal_.clear();
            return;
        }
        if (!protocol_) {
            Heard();
            return;
        }
        const zel::exchange::ReplyJudgement j = Judge();
        if (j.refusal == zel::exchange::Refusal::kShort) return;
        Reply(j);
    }
    // The run ends in the middle of a request sent in parts: no reply was due.
    void Unasked() { asked_ = false; }
    // The end of the run, or of a reply's time.
    void Final() {
        if (Streaming() || !protocol_) {
            Quiet();
        } else if (!pending_.empty()) {
            Reply(Judge());
        } else if (asked_ && !Full()) {
            json::Object o;
            Header(o, 3, "no reply");
            printer_.Verdict(o, "  => model " + std::to_string(row_.number) + ": no reply");
            ++verdicts_;
        }
        asked_ = false;
    }

private:
    static const size_t kMaxPending = 4096;

    bool Streaming() const { return protocol_ && protocol_->requestLength == 0; }

    zel::exchange::ReplyJudgement Judge() const {
        return zel::exchange::JudgeReply(*protocol_, reinterpret_cast<const uint8_t*>(pending_.data()),
                                         pending_.size());
    }

    void Header(json::Object& o, int32_t result, const char* verdict) const {
        const uint64_t now = platform::MonotonicMs();
        o.String("time", printer_.TimeOf(now)).Int("result", result).Int("ms", static_cast<int64_t>(now - printer_.start()));
        o.String("verdict", verdict).Int("model", row_.number);
    }

    bool Full() const { return limit_ > 0 && verdicts_ >= limit_; }

    void Reading(const zel::exchange::Reading& r, int32_t result, size_t bytes) {
        if (Full()) return;
        json::Object o;
        Header(o, result, "reading");
        o.Int("bytes", static_cast<int64_t>(bytes)).Number("weight", r.weight).String("unit", row_.unit);
        // A format that carries no stability says nothing of it.
        if (row_.reportsStable) o.Bool("stable", r.stable != 0);
        else o.Null("stable");
        o.Number("price", r.price).Number("cost", r.cost);
        // Price and cost only where the model's readings carry them.
        const bool withPrice = row_.money != zel::devices::Money::kNone || r.price != 0.0 || r.cost != 0.0;
        std::string text = "  => model " + std::to_string(row_.number) + ": " +
                           FormatReading(r.weight, r.stable != 0, r.price, r.cost, withPrice, row_.unit,
                                         row_.reportsStable, row_.money);
        if (result != 0) text += "  (result " + std::to_string(result) + ")";
        printer_.Verdict(o, text);
        ++verdicts_;
        ++readings_;
    }

    void Refused(size_t bytes, const std::string& why, int32_t result = 3) {
        if (Full()) return;
        json::Object o;
        Header(o, result, "refused");
        o.Int("bytes", static_cast<int64_t>(bytes)).String("why", why);
        printer_.Verdict(o, "  => model " + std::to_string(row_.number) + " refuses " + std::to_string(bytes) +
                                " bytes: " + why);
        ++verdicts_;
    }

    void Reply(const zel::exchange::ReplyJudgement& j) {
        if (j.refusal == zel::exchange::Refusal::kNone) {
            Reading(j.reading, j.decoded.result, pending_.size());
        } else if (j.refusal == zel::exchange::Refusal::kDecoder) {
            Refused(pending_.size(), std::string(zel::exchange::RefusalText(j.refusal)) + " (result " +
                                         std::to_string(j.decoded.result) + ")", j.decoded.result);
        } else {
            Refused(pending_.size(), zel::exchange::RefusalText(j.refusal));
        }
        pending_.clear();
        asked_ = false;
    }

    // A continuously sending scale: every frame found in what came, from the
    // first byte that begins one; a frame cut short waits for its rest.
    void Scan() {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(pending_.data());
        const size_t n = pending_.size();
        size_t at = 0, taken = 0;
        while (at < n) {
            const zel::exchange::ReplyJudgement j = zel::exchange::JudgeFrame(*protocol_, b + at, n - at);
            if (j.refusal == zel::exchange::Refusal::kShort) break;
            if (j.refusal == zel::exchange::Refusal::kNone && j.length > 0) {
                if (at > taken) Refused(at - taken, firstRefusal_);
                Reading(j.reading, j.decoded.result, j.length);
                at += j.length;
                taken = at;
                firstRefusal_.clear();
                continue;
            }
            if (firstRefusal_.empty()) firstRefusal_ = zel::exchange::RefusalText(j.refusal);
            ++at;
        }
        pending_.erase(0, taken);
    }

    // A scale that pushes readings: its frames in one burst.
    void Heard() {
        const detect::Verdict v =
            detect::JudgeHeard(row_.number, reinterpret_cast<const uint8_t*>(pending_.data()), pending_.size());
        if (v.frames > 0) Reading(v.reading, v.result, pending_.size());
        else Refused(pending_.size(), "no frame of this model");
        pending_.clear();
        asked_ = false;
    }

    const zel::devices::ModelInfo& row_;
    const Printer& printer_;
    const zel::exchange::PolledProtocol* protocol_;
    std::string pending_;       // received since the last verdict
    std::string firstRefusal_;  // why the first bytes skipped made no frame
    bool asked_ = false;        // a request went out since the last verdict
    int limit_;
    int verdicts_ = 0, readings_ = 0;
};

void TraceEvent(bool on, const char* what, const std::string& line) {
    if (on) PrintTraceBlock(TraceBlockNow(what, nullptr, 0, line));
}

void TraceBytes(bool on, const char* direction, const std::string& bytes) {
    if (on && !bytes.empty()) PrintTraceBlock(TraceBlockNow(direction, bytes.data(), bytes.size()));
}

int Usage(const std::string& message) { return Fail(message, kExitUsage); }

}  // namespace

const char* zelscales::MonitorUsage() { return kMonitorUsage; }

int zelscales::RunMonitor(const Options& o) {
    if (!o.port.empty() && !o.host.empty()) return Usage("--port and --host exclude each other");
    if (o.port.empty() && o.host.empty()) return Usage("monitor needs --port NAME or --host H");
    if (o.tcpPort < 1 || o.tcpPort > 65535)
        return Usage("bad --tcp-port " + std::to_string(o.tcpPort) + ": wants 1 to 65535");
    const zel::devices::ModelInfo* row = o.model >= 0 ? zel::devices::FindModel(o.model) : nullptr;
    Framing framing;
    if (row) ParseFraming(zel::LineName(row->line), framing);
    if (!o.framing.empty() && !ParseFraming(o.framing, framing))
        return Usage("bad --framing " + o.framing + " (e.g. 8N1, 7E1, 8E2: data bits, parity N E O M S, stop bits)");
    std::vector<std::string> sends;
    for (const std::string& text : o.sends) {
        std::string bytes;
        if (!ParseSend(text, bytes))
            return Usage("bad --send " + text + " (hex bytes such as \"02 05 03\", or text such as \"W\\r\\n\")");
        sends.push_back(bytes);
    }
    if (o.every > 0 && sends.empty()) return Usage("--every needs --send");
    const bool tcp = !o.host.empty();
    // Silence that ends a chunk: 20 ms (a USB adapter hands bytes over in
    // such steps) and three byte times.
    const int bitsPerByte = 1 + framing.dataBits + (framing.parity ? 1 : 0) + (framing.stopBits ? 2 : 1);
    const uint64_t quietMs =
        o.quiet >= 0 ? static_cast<uint64_t>(o.quiet)
                     : 20 + (tcp ? 0 : static_cast<uint64_t>(3 * bitsPerByte * 1000 / (o.baud > 0 ? o.baud : 1)));

    CatchInterrupts();
    const std::string description =
        tcp ? zel::TrafficTcpLine(o.host.c_str(), o.tcpPort)
            : zel::TrafficComLine(o.port.c_str(), o.baud, framing.parity, framing.dataBits, framing.stopBits, 0, 0);
    std::unique_ptr<Line> line;
    std::string problem;
    if (tcp) {
        auto connection = std::make_unique<TcpLine>();
        if (connection->Connect(o.host, o.tcpPort)) line = std::move(connection);
    } else {
        try {
            line = std::make_unique<SerialLine>(o.port, o.baud, framing);
        } catch (const std::exception& e) {
            problem = e.what();
        }
    }
    if (!line) {
        TraceEvent(o.trace, "open failed", description);
        // A port that opened but took no such speed or framing.
        const platform::LineProbe probe = ProbeLine(o);
        if (!tcp && probe.fault == platform::LineFault::kNone)
            return Fail("cannot set " + std::to_string(o.baud) + " baud " + framing.text + " on " + o.port + ": " +
                        problem);
        return Fail(OpenAdvice(o, probe));
    }
    TraceEvent(o.trace, "open", description);
    if (!o.json)
        std::fprintf(stderr, "monitor: %s%s, Ctrl-C ends\n",
                     tcp ? (o.host + ":" + std::to_string(o.tcpPort)).c_str()
                         : (o.port + " at " + std::to_string(o.baud) + " baud " + framing.text).c_str(),
                     row ? (", frames judged by model " + std::to_string(row->number)).c_str() : "");

    const uint64_t start = platform::MonotonicMs();
    Printer printer(o.json, start);
    std::unique_ptr<LiveJudge> judge;
    if (row) judge = std::make_unique<LiveJudge>(*row, printer, o.count);

    std::string chunk;        // received, not yet printed
    uint64_t chunkAt = 0;     // when its first byte came
    uint64_t lastByte = 0;    // when the last byte came
    uint64_t lastEnd = start;  // the end of the chunk printed last
    int received = 0;         // chunks received
    size_t next = 0;          // the --send value due next
    uint64_t sendAt = start, roundAt = start;
    bool lost = false;
    char buffer[1024];

    auto endChunk = [&](uint64_t now) {
        if (chunk.empty()) return;
        printer.Chunk("recv", chunk, chunkAt, chunkAt - lastEnd);
        // The judge sees the bytes once they are shown: its verdict follows them.
        if (judge) judge->Received(chunk.data(), static_cast<int>(chunk.size()));
        lastEnd = now < lastByte ? now : lastByte;
        chunk.clear();
        ++received;
    };
    auto counted = [&] { return o.count > 0 && (judge ? judge->verdicts() : received) >= o.count; };
    auto done = [&] {
        if (counted()) return true;
        return o.forMs > 0 && platform::MonotonicMs() - start >= static_cast<uint64_t>(o.forMs);
    };
    // Bytes already waiting when the line opened (a scale that sent while
    // nobody listened) are read before anything is sent: they are no reply.
    bool opening = true;
    while (!Interrupted()) {
        uint64_t now = platform::MonotonicMs();
        // What is due goes out before the end is looked at: a short --for
        // still sends its bytes once.
        if (next < sends.size() && now >= sendAt && !counted() && !opening) {
            endChunk(now);
            if (judge && next == 0) judge->Request();
            const int n = line->Write(sends[next]);
            if (n < 0) {
                lost = true;
                break;
            }
            const std::string written = sends[next].substr(0, static_cast<size_t>(n));
            if (written.size() < sends[next].size())
                std::fprintf(stderr, "monitor: %zu of %zu bytes written\n", written.size(), sends[next].size());
            TraceBytes(o.trace, "sent", written);
            printer.Chunk("sent", written, now, now - lastEnd);
            lastEnd = now;
            if (++next < sends.size()) {
                sendAt = now + static_cast<uint64_t>(o.pause);
            } else if (o.every > 0) {
                next = 0;
                roundAt += static_cast<uint64_t>(o.every);
                if (roundAt < now) roundAt = now;  // a round longer than --every: the next follows at once
                sendAt = roundAt;
            }
            // The line is read between any two writes.
        }
        // Not before the first read: the sends still have to go out once.
        if (!opening && done()) break;
        now = platform::MonotonicMs();
        uint64_t wait = 20;
        if (next < sends.size()) wait = sendAt <= now ? 0 : std::min<uint64_t>(wait, sendAt - now);
        if (!chunk.empty() && lastByte + quietMs > now && lastByte + quietMs - now < wait)
            wait = lastByte + quietMs - now;
        line->Wait(opening ? 0 : static_cast<unsigned>(wait));
        opening = false;
        const int n = line->Read(buffer, sizeof buffer);
        now = platform::MonotonicMs();
        if (n < 0) {
            lost = true;
            break;
        }
        if (n > 0) {
            TraceBytes(o.trace, "received", std::string(buffer, static_cast<size_t>(n)));
            for (int i = 0; i < n; ++i) {
                if (chunk.empty()) chunkAt = now;
                chunk += buffer[i];
                lastByte = now;
                if (chunk.size() == 16) endChunk(now);
                if (done()) break;
            }
            continue;
        }
        if (now - lastByte >= quietMs) {
            endChunk(now);
            // A request's reply in parts: the rest of the request is still to go.
            if (judge && (next == 0 || next >= sends.size())) judge->Quiet();
        }
    }
    // Once --count is reached, bytes still waiting are not shown.
    if (!counted()) {
        endChunk(platform::MonotonicMs());
        if (judge && next > 0 && next < sends.size()) judge->Unasked();
        if (judge) judge->Final();
    }
    line.reset();
    TraceEvent(o.trace, lost ? "failed" : "close", description);
    if (lost) std::fprintf(stderr, "zelscales: the line %s was lost\n", LineName(o).c_str());
    if (Interrupted()) return InterruptedStatus();
    if (lost) return kExitFailed;
    return judge && judge->readings() == 0 ? kExitFailed : kExitOk;
}

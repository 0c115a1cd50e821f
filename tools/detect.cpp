// `zelscales detect`: runs the scan of tools/detect_plan.h on a serial port
// or a TCP connection through the driver's port facade, and reports every
// model that answered with a valid frame.
#include "tools/detect.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "platform/sys.h"
#include "scales/exchange/ByteLine.h"
#include "scales/exchange/SplitSend.h"
#include "tools/commands.h"
#include "tools/detect_plan.h"
#include "tools/json.h"
#include "tools/text.h"
#include "tools/why.h"
#include "tools/trace.h"
#include "transport/Log.h"
#include "transport/ZelComLanPort.h"

using namespace zelscales::detect;
using zel::exchange::Reading;

namespace {

const char kDetectUsage[] =
    "usage: zelscales detect (--port NAME | --host H [--tcp-port P]) [--bauds B,B,...] [--json] [--verbose]\n"
    "                        [--trace]\n"
    "\n"
    "Finds the scale model on a line and its speed. Listens first for scales that\n"
    "talk by themselves (press the send key of a scale that sends on a key press),\n"
    "then sends the read request of every polled model at each speed (default\n"
    "9600,4800,2400,19200), then listens for key presses again, and reports every\n"
    "model that answered with a valid frame. It never sends a tare, zero, price, acknowledgement or Modbus write.\n"
    "The time bound of the scan is printed before it starts.\n"
    "  --bauds B,B,...  the speeds to try, in this order\n"
    "  --json           one JSON object per model found on standard output\n"
    "  --verbose        show every step and the bytes received\n"
    "  --trace          every byte sent and received, and the line's open and close, on stderr\n";

// With --trace, the scan's line as the other commands show a scale's line.
struct LineTrace {
    bool on = false;
    std::string line;  // the line's description, as the traffic log gives it
    mutable bool opened = false;  // no switch since the last open
    void Event(const char* what) const {
        opened = std::strcmp(what, "open") == 0;
        if (on) zelscales::PrintTraceBlock(zelscales::TraceBlockNow(what, nullptr, 0, line));
    }
    // The speed and framing a step switched the line to.
    void Switched() const {
        const std::string settings = zelscales::LineSettingsOf(line);
        if (on && !settings.empty())
            zelscales::PrintTraceBlock(zelscales::TraceBlockNow(
                "settings", nullptr, 0,
                settings + (opened ? " (the open above was at the port's defaults, before the switch)" : "")));
        opened = false;
    }
    void Bytes(const char* direction, const void* data, int n) const {
        if (on && n > 0) zelscales::PrintTraceBlock(zelscales::TraceBlockNow(direction, data, static_cast<size_t>(n)));
    }
};
LineTrace g_trace;

}  // namespace

bool zelscales::detect::ParseBauds(const std::string& text, std::vector<int>& out) {
    out.clear();
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        int v = 0;
        if (!text::ParseInteger(std::string_view(text).substr(at, comma - at), 50, 4000000, v)) return false;
        // Only the speeds the setup form offers: the driver would open the
        // port at any other, and no scale would be found there.
        if (std::find(std::begin(zelscales::kSerialSpeeds), std::end(zelscales::kSerialSpeeds), v) ==
            std::end(zelscales::kSerialSpeeds))
            return false;
        bool seen = false;
        for (int b : out) seen = seen || b == v;
        if (!seen) out.push_back(v);
        at = comma + 1;
    }
    return !out.empty();
}

namespace {

// The first `limit` bytes in hex, " ..." for the rest.
std::string Hex(const std::string& bytes, size_t limit) {
    return zelscales::text::HexOf(std::string_view(bytes).substr(0, limit)) + (bytes.size() > limit ? " ..." : "");
}

std::string Where(const Step& step) {
    if (step.baud == 0) return "TCP";
    return std::to_string(step.baud) + " baud " + zel::LineName(step.line);
}

const char* Caption(int model) {
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    return row ? row->caption : "";
}

const char* Unit(int model) {
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    return row && row->unit[0] ? row->unit : "kg";
}

struct Found {
    std::vector<int> models;
    Step step;
    Verdict verdict;
    uint64_t timeMs;
};

// Where the scale is, as the setup form and `weigh` take it.
struct Line {
    std::string port;  // empty: TCP
    std::string host;
    int tcpPort = 0;
};

// The settings to enter for a find: the first model of a group stands for
// all (they read the same frame); the coefficient turns the unit the model
// delivers into kilograms.
std::string SettingsText(const Found& f, const Line& at) {
    const int first = f.models.front();
    const zel::devices::ModelInfo* row = zel::devices::FindModel(first);
    std::string text = "model " + std::to_string(first);
    if (f.models.size() > 1) {
        text += " (the same as";
        for (size_t i = 1; i < f.models.size(); ++i) text += (i > 1 ? ", " : " ") + std::to_string(f.models[i]);
        text += ")";
    }
    if (at.port.empty()) text += ", Ethernet " + at.host + " port " + std::to_string(at.tcpPort);
    else text += ", COM port " + at.port + ", speed " + std::to_string(f.step.baud);
    if (row && row->toKilograms != 1.0)
        text += ", coefficient " + CoefficientText(row->toKilograms) + " (" + Unit(first) + " to kg)";
    else
        text += ", coefficient 1";
    return text;
}

void Report(const Found& f, const Line& at, bool json) {
    const int first = f.models.front();
    const Reading& r = f.verdict.reading;
    const zel::devices::ModelInfo* firstRow = zel::devices::FindModel(first);
    const std::string coefficient = CoefficientText(firstRow ? firstRow->toKilograms : 1.0);
    const std::string command = WeighCommand(first, at.port, f.step.baud, at.host, at.tcpPort);
    if (json) {
        namespace json = zelscales::json;
        json::Object o;
        o.Time().Int("result", f.verdict.result);
        if (f.models.size() == 1) {
            o.Int("model", first).String("caption", Caption(first));
        } else {
            json::Value group = json::Value::array(), captions = json::Value::array();
            for (int m : f.models) {
                group.push_back(m);
                captions.push_back(Caption(m));
            }
            o.Set("group", std::move(group)).Set("captions", std::move(captions));
        }
        if (f.step.baud) {
            o.Int("baud", f.step.baud).String("line", zel::LineName(f.step.line));
        } else {
            o.Null("baud").Null("line");
        }
        o.String("how", f.step.listen ? "heard" : "answered");
        o.Number("weight", r.weight).String("unit", Unit(first)).Bool("stable", r.stable != 0);
        o.Number("price", r.price).Number("cost", r.cost);
        o.Int("elapsedMs", static_cast<int64_t>(f.timeMs));
        // The setup form's parameters, by their keys.
        json::Object settings;
        settings.Int("model", first);
        json::Value same = json::Value::array();
        for (size_t i = 1; i < f.models.size(); ++i) same.push_back(f.models[i]);
        settings.Set("sameAs", std::move(same));
        if (at.port.empty()) {
            settings.Int("conntype", 1).String("ehost", at.host).Int("eport", at.tcpPort);
        } else {
            settings.Int("conntype", 0).String("cport", at.port).Int("cbaudrate", f.step.baud);
        }
        // The number the command line's --coeff gives.
        double coeff = 1.0;
        std::from_chars(coefficient.data(), coefficient.data() + coefficient.size(), coeff);
        settings.Number("coeff", coeff);
        o.Set("settings", settings.value()).String("command", command);
        std::printf("%s\n", o.Text().c_str());
    } else {
        const zel::devices::ModelInfo* row = zel::devices::FindModel(first);
        const bool withPrice = (row && row->money != zel::devices::Money::kNone) || r.price != 0.0 || r.cost != 0.0;
        std::string reading = zelscales::FormatReading(r.weight, r.stable != 0, r.price, r.cost, withPrice, Unit(first),
                                                       row && row->reportsStable,
                                                       row ? row->money : zel::devices::Money::kUnits);
        if (f.verdict.result != 0) reading += "  result " + std::to_string(f.verdict.result);
        std::printf("found %s %s at %s (%s): %s\n", f.models.size() == 1 ? "model" : "group", GroupName(f.models).c_str(),
                    Where(f.step).c_str(), f.step.listen ? "heard" : "answered", reading.c_str());
        for (int m : f.models) std::printf("  %s\n", Caption(m));
        std::printf("  settings: %s\n  %s\n", SettingsText(f, at).c_str(), command.c_str());
    }
    std::fflush(stdout);
}

class Progress {
public:
    explicit Progress(bool terminal) : terminal_(terminal) {}
    ~Progress() { Clear(); }
    void Show(const std::string& text, const std::string& block) {
        if (terminal_) {
            std::fprintf(stderr, "\r\033[K%s", text.c_str());
            shown_ = true;
        } else if (block != block_) {
            std::fprintf(stderr, "detect: %s\n", block.c_str());
        }
        block_ = block;
        std::fflush(stderr);
    }
    void Clear() {
        if (terminal_ && shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
        std::fflush(stderr);
    }

private:
    bool terminal_;
    bool shown_ = false;
    std::string block_;
};

// The scan's line: the device port as the engine's byte line, every byte
// through it shown with --trace.
class TracedLine : public zel::exchange::IByteLine {
public:
    explicit TracedLine(CZelComLanPort& port) : line_(port) {}
    int Read(uint8_t* buffer, int size) override {
        const int n = line_.Read(buffer, size);
        g_trace.Bytes("received", buffer, n);
        return n;
    }
    int Write(const uint8_t* data, int size) override {
        const int n = line_.Write(data, size);
        g_trace.Bytes("sent", data, n);
        return n;
    }
    bool WaitForInput(unsigned ms) override { return line_.WaitForInput(ms); }
    void Sleep(unsigned ms) override { line_.Sleep(ms); }
    uint64_t NowMs() override { return line_.NowMs(); }
    bool ConnectionLost() override { return line_.ConnectionLost(); }

private:
    zel::exchange::PortByteLine line_;
};

// One run of the plan on one line: open it, then for each step set the line
// up, send, collect, judge, confirm and report.
class Scan {
public:
    Scan(const zelscales::Options& o, const std::vector<int>& bauds)
        : tcp_(!o.host.empty()), json_(o.json), verbose_(o.verbose), portName_(o.port), host_(o.host),
          tcpPort_(o.tcpPort), bauds_(bauds), plan_(BuildPlan(bauds, tcp_)), line_(port_),
          progress_(platform::StderrIsTerminal() && !o.verbose && !o.trace) {
        if (tcp_) {
            at_.host = host_;
            at_.tcpPort = static_cast<int>(tcpPort_);
        } else {
            at_.port = portName_;
        }
    }

    int Run() {
        Announce();
        start_ = platform::MonotonicMs();
        deadline_ = start_ + static_cast<uint64_t>(PlanBoundMs(plan_));
        if (!Open()) return 1;
        for (size_t index = 0; index < plan_.steps.size(); ++index) {
            const Step& step = plan_.steps[index];
            if (Skipped(step)) continue;
            if (platform::MonotonicMs() >= deadline_) {
                outOfTime_ = true;
                break;
            }
            const int ready = LineReady(step);
            if (ready == kOutOfTime) outOfTime_ = true;
            if (ready != kReady) break;
            Show(index, step);
            Finding finding = Exchange(step);
            if (finding.models.empty()) continue;
            if (!step.listen && !Confirm(step, finding)) {
                if (lost_) break;
                continue;
            }
            Found(step, finding);
        }
        return Close();
    }

private:
    enum { kReady, kOutOfTime, kLost };

    void Announce() const {
        size_t probes = 0;
        for (const Step& s : plan_.steps) probes += s.listen ? 0 : 1;
        std::string speeds;
        if (tcp_) {
            speeds = host_ + ":" + std::to_string(tcpPort_);
        } else {
            speeds = portName_ + " at";
            for (size_t i = 0; i < bauds_.size(); ++i) speeds += (i ? ", " : " ") + std::to_string(bauds_[i]);
            speeds += " baud";
        }
        std::fprintf(stderr, "detect: scanning %s (listening, then %zu requests), at most %d s\n", speeds.c_str(),
                     probes, (PlanBoundMs(plan_) + 999) / 1000);
        for (const std::string& note : plan_.skipped) std::fprintf(stderr, "detect: not asked: %s\n", note.c_str());
        std::fflush(stderr);
    }

    // The port opens at its default speed; each step sets its own.
    bool Open() {
        const int opened = tcp_ ? port_.OpenTcpPort(host_.c_str(), static_cast<int32_t>(tcpPort_))
                                : port_.OpenComPort(portName_.c_str());
        Describe();
        g_trace.Event(opened == 0 ? "open" : "open failed");
        if (opened == 0) return true;
        zelscales::Options line;
        (tcp_ ? line.host : line.port) = tcp_ ? host_ : portName_;
        line.tcpPort = static_cast<int>(tcpPort_);
        std::fprintf(stderr, "zelscales: %s\n", zelscales::OpenAdvice(line, zelscales::ProbeLine(line)).c_str());
        return false;
    }

    void Describe() {
        const CZelComLanPort::LineSettings l = port_.Settings();
        g_trace.line = tcp_ ? zel::TrafficTcpLine(host_.c_str(), static_cast<int32_t>(tcpPort_))
                            : zel::TrafficComLine(portName_.c_str(), l.baudRate, l.parity, l.byteSize, l.stopBits,
                                                  l.handshaking, l.xonXoff);
    }

    // One scale on a line: once it is known, the rest of its kind of step
    // is of no use, and nobody is asked to press a key.
    bool Skipped(const Step& step) const {
        if (step.presses && !found_.empty()) return true;
        if (heardAt_ >= 0 && (!step.listen || step.baud != heardAt_)) return true;
        return answeredAt_ >= 0 && step.baud != answeredAt_;
    }

    // A converter that hangs up after each answer, or a line that failed:
    // open it again with the settings the port holds; then the step's speed
    // and framing.
    int LineReady(const Step& step) {
        if (port_.LineState() != 0) {
            // A connect may take its full time: only when that still fits.
            const uint64_t needs = tcp_ ? static_cast<uint64_t>(kConnectMs) : 0;
            if (platform::MonotonicMs() + needs >= deadline_) return kOutOfTime;
            const int reopened = port_.Open();
            Describe();
            g_trace.Event(reopened == 0 ? "open" : "open failed");
            if (reopened != 0) {
                progress_.Clear();
                std::fprintf(stderr, "zelscales: the line to %s was lost\n", tcp_ ? host_.c_str() : portName_.c_str());
                return kLost;
            }
            setUp_ = false;
        }
        if (!tcp_ && (!setUp_ || step.baud != baud_ || step.line != lineVariant_)) {
            int32_t parity = 0, stopBits = 0;
            zel::LineCodes(step.line, parity, stopBits);
            port_.SetBaudRate(step.baud);
            port_.SetParity(parity);
            port_.SetByteSize(8);
            port_.SetStopBits(stopBits);
            Describe();
            g_trace.Switched();
            platform::SleepMs(20);
        }
        setUp_ = true;
        baud_ = step.baud;
        lineVariant_ = step.line;
        return kReady;
    }

    void Show(size_t index, const Step& step) {
        char text[160];
        std::snprintf(text, sizeof text, "detect: [%zu/%zu] %s %s %s", index + 1, plan_.steps.size(),
                      Where(step).c_str(), step.presses ? "listening for a key press" : step.listen ? "listening" : "asking",
                      step.listen ? "" : GroupName(step.models).c_str());
        progress_.Show(text, Where(step) + (step.listen ? " listening" : " asking"));
        if (step.presses) {
            progress_.Clear();
            std::fprintf(stderr,
                         "detect: %s: press the send key of a scale that sends on a key press, and again 2 to 5 s "
                         "later (listening %d s)\n",
                         Where(step).c_str(), (step.windowMs + 999) / 1000);
            std::fflush(stderr);
        }
    }

    // Drain, send, collect and judge.
    Finding Exchange(const Step& step) {
        Drain();
        Send(step);
        Finding finding;
        const std::string bytes = Collect(step, finding);
        if (verbose_) {
            std::fprintf(stderr, "detect: %s %s%s -> %zu byte%s%s%s%s\n", Where(step).c_str(),
                         step.listen ? "listened" : "sent ", step.listen ? "" : Hex(step.request, 16).c_str(),
                         bytes.size(), bytes.size() == 1 ? "" : "s", bytes.empty() ? "" : ": ", Hex(bytes, 48).c_str(),
                         finding.models.empty() ? "" : (" = " + GroupName(finding.models)).c_str());
            if (finding.models.empty() && !finding.why.empty())
                std::fprintf(stderr, "detect:   refused: %s\n", finding.why.c_str());
        }
        return finding;
    }

    // One reply could be chance: the request goes out again for a second
    // that the same models accept. False when none came.
    bool Confirm(const Step& step, Finding& finding) {
        Finding second;
        int ready = kReady;
        for (int tries = 0; second.models.empty() && tries < kConfirmTries && confirmSends_ > 0 &&
                            platform::MonotonicMs() < deadline_ && (ready = LineReady(step)) == kReady;
             ++tries) {
            --confirmSends_;
            second = Confirmed(finding, Exchange(step));
        }
        if (!second.models.empty()) {
            finding = second;
            return true;
        }
        if (verbose_)
            std::fprintf(stderr, "detect: %s: one reply of %s %s, no second\n", Where(step).c_str(),
                         finding.models.size() == 1 ? "model" : "models", GroupName(finding.models).c_str());
        if (ready == kOutOfTime) outOfTime_ = true;
        lost_ = ready == kLost;
        return false;
    }

    void Found(const Step& step, const Finding& finding) {
        if (step.listen) heardAt_ = step.baud;
        else answeredAt_ = step.baud;
        for (const ::Found& f : found_)
            if (f.models == finding.models) return;
        found_.push_back(::Found{finding.models, step, finding.verdict, platform::MonotonicMs() - start_});
        progress_.Clear();
        Report(found_.back(), at_, json_);
    }

    int Close() {
        progress_.Clear();
        port_.Close();
        g_trace.Event("close");
        const double seconds = static_cast<double>(platform::MonotonicMs() - start_) / 1000.0;
        if (outOfTime_) std::fprintf(stderr, "detect: the time bound was reached\n");
        if (found_.empty()) {
            std::fprintf(stderr, "detect: nothing answered (%.1f s)\n", seconds);
            return 1;
        }
        std::fprintf(stderr, "detect: done in %.1f s\n", seconds);
        return 0;
    }

    void Drain() {
        uint8_t buffer[1024];
        for (int i = 0; i < 1000 && line_.Read(buffer, sizeof buffer) > 0; ++i) {
        }
    }

    // The request, split as the read cycle splits it.
    void Send(const Step& step) {
        if (step.request.empty()) return;
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(step.request.data());
        const int length = static_cast<int>(step.request.size());
        if (step.split) zel::exchange::SendSplit(line_, bytes, length);
        else line_.Write(bytes, length);
        sent_ += step.request;
    }

    // Reads what arrives within the step's window; returns early once the
    // bytes have gone quiet and one of the step's models recognises them. A
    // scale that pushed one reading gets the scan's second window (once),
    // lasting the longest gap between two presses after its last byte.
    std::string Collect(const Step& step, Finding& finding) {
        std::string bytes;
        // The request may still be leaving the line: the scale hears its end
        // only then.
        const uint64_t start = platform::MonotonicMs() + static_cast<uint64_t>(WireMs(step));
        uint64_t end = std::min(deadline_, start + static_cast<uint64_t>(step.windowMs));
        const uint64_t firstByteBy = step.firstByteMs > 0 ? start + static_cast<uint64_t>(step.firstByteMs) : end;
        // A reply is one burst: quiet for four byte times ends it.
        const uint64_t quietMs = static_cast<uint64_t>(QuietMs(step.baud));
        uint64_t lastByte = 0;
        std::vector<size_t> bursts;  // where bytes came again after a quiet gap
        bool judged = true;
        uint8_t buffer[1024];
        for (;;) {
            const uint64_t now = platform::MonotonicMs();
            if (now >= end && secondWindow_ && OneReadingHeard(step, bytes, bursts)) {
                secondWindow_ = false;
                end = std::min(deadline_, std::max(now, lastByte) + static_cast<uint64_t>(kSecondWindowMs));
                std::fprintf(stderr, "\ndetect: one reading heard; press the scale's send key again\n");
                std::fflush(stderr);
            }
            if (now >= end || (bytes.empty() && now >= firstByteBy)) break;
            const uint64_t left = (bytes.empty() ? std::min(end, firstByteBy) : end) - now;
            line_.WaitForInput(static_cast<unsigned>(left < 20 ? left : 20));
            const int n = line_.Read(buffer, sizeof buffer);
            if (n > 0) {
                const uint64_t at = platform::MonotonicMs();
                if (bytes.size() < 8192) {
                    if (!bytes.empty() && at - lastByte >= quietMs) bursts.push_back(bytes.size());
                    bytes.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
                }
                lastByte = at;
                judged = false;
                continue;
            }
            if (!judged && platform::MonotonicMs() - lastByte >= quietMs) {
                judged = true;
                finding = JudgeReceived(step, bytes, sent_, bursts);
                if (!finding.models.empty()) return bytes;
            }
        }
        finding = JudgeReceived(step, bytes, sent_, bursts);
        return bytes;
    }

    const bool tcp_, json_, verbose_;
    const std::string portName_, host_;
    const long tcpPort_;
    const std::vector<int> bauds_;
    const Plan plan_;
    CZelComLanPort port_;
    TracedLine line_;
    Progress progress_;
    Line at_;
    uint64_t start_ = 0, deadline_ = 0;
    std::vector<::Found> found_;
    bool setUp_ = false;
    int baud_ = -1;
    zel::LineVariant lineVariant_ = zel::LineVariant::k8N1;
    int heardAt_ = -1;     // the speed a talking scale was heard at
    int answeredAt_ = -1;  // the speed a polled scale answered at
    bool outOfTime_ = false, lost_ = false;
    std::string sent_;  // every byte sent, for telling an echo from a reply
    int confirmSends_ = kConfirmSends;
    bool secondWindow_ = true;
};

}  // namespace

const char* zelscales::DetectUsage() { return kDetectUsage; }

int zelscales::RunDetect(const zelscales::Options& o) {
    if (o.port.empty() == o.host.empty()) return zelscales::Fail("detect needs --port NAME or --host H", 2);
    if (o.tcpPort < 1 || o.tcpPort > 65535)
        return zelscales::Fail("bad --tcp-port " + std::to_string(o.tcpPort) + ": wants 1 to 65535", 2);
    g_trace.on = o.trace;
    Scan scan(o, o.bauds.empty() ? DefaultBauds() : o.bauds);
    return scan.Run();
}

#include "sim/simulate_cli.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/pty.h"
#include "platform/sync.h"
#include "platform/sys.h"
#include "sim/Models.h"
#include "sim/Simulator.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

const char kUsage[] =
    "usage: simulate --model N (--pty [--link PATH] | --tcp PORT) [options]\n"
    "  --model N         the model simulated (below)\n"
    "  --pty             serve a pseudo-terminal; its stable path is printed first\n"
    "  --link PATH       put the pseudo-terminal's link at PATH\n"
    "  --tcp PORT        serve 127.0.0.1:PORT (0 = any free port; printed first)\n"
    "  --weight KG       weight shown (default 0)\n"
    "  --unstable        weight not settled\n"
    "  --overload        overload shown\n"
    "  --price X         unit price; --cost X fixes the cost (default weight x price)\n"
    "  --tare KG         tare (formats that carry one)\n"
    "  --decimals D      0..4, default 3 (formats with fewer use at most theirs)\n"
    "  --negative        show the minus sign whatever the weight\n"
    "  --text TEXT       free text of formats that carry one\n"
    "  --fault F         silence | slow:MS | garbage:N | broken | hangup | echo |\n"
    "                    loopback | halfhangup | reset | noise[:BAUD] | drip[:MS] |\n"
    "                    changed[:N] | none (echo: input goes straight back, the\n"
    "                    scale answers; loopback: it goes back, no answer;\n"
    "                    halfhangup, reset: half of each frame, then the line is\n"
    "                    cut, on TCP reset; noise: random bytes at the line's\n"
    "                    pace instead of frames; drip: a byte every MS (60);\n"
    "                    changed: one byte of each frame, the Nth if given)\n"
    "  --push-every MS   event models: push a reading every MS milliseconds\n"
    "  --pace BAUD       write frames at the pace of a serial line of this speed\n"
    "                    (a pseudo-terminal or TCP has none of its own)\n"
    "  --gap MS          streaming models: pause between frames (default 100,\n"
    "                    0 = back to back)\n"
    "  --ack-first-byte  polled models: send the frame's first byte as soon as\n"
    "                    the request's first byte arrives, the rest after it\n"
    "  --close-after-reply  TCP: close the connection after each answer, as a\n"
    "                    converter that hangs up after every exchange\n"
    "  --no-stdin        ignore standard input (the scale also runs on when its\n"
    "                    input ends); it stops on SIGINT, SIGTERM or q\n"
    "standard input: Enter pushes a reading; w KG weight; p X price; c X cost;\n"
    "  t KG tare; s 0|1 stable; o 0|1 overload; n 0|1 minus sign; x TEXT text;\n"
    "  g MS gap; f FAULT; h hang up; q quits.\n";

const char* ModeName(sim::SimModel::Mode mode) {
    switch (mode) {
    case sim::SimModel::Pushes: return "pushes";
    case sim::SimModel::Streams: return "streams";
    default: return "polled";
    }
}

}  // namespace

// The usage text, with the models as the registry has them.
std::string SimulateUsage() {
    std::string u = kUsage;
    u += "models:\n";
    for (const sim::SimModel& m : sim::AllSimModels()) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-4d %-16s %s, %s\n", m.model, m.name, ModeName(m.mode), m.line);
        u += line;
    }
    return u;
}

bool ParseSimulatedNumber(const std::string& text, double* out) {
    std::string t = text;
    for (char& c : t) {
        if (c == ',') c = '.';
    }
    const char* begin = t.c_str();
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !(v == v) || v > 1e12 || v < -1e12) return false;
    *out = v;
    return true;
}

namespace {

bool ParseInt(const std::string& text, long lo, long hi, long* out) {
    const char* begin = text.c_str();
    char* end = nullptr;
    long v = std::strtol(begin, &end, 10);
    if (end == begin || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

}  // namespace

bool ParseSimulatedFault(const std::string& text, sim::Fault* fault, int* param) {
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string arg = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    // Name, fault, whether its number is required, allowed or refused.
    enum Arg { kNone, kOptional, kRequired };
    static const struct {
        const char* name;
        sim::Fault fault;
        Arg arg;
        long hi;
    } kFaults[] = {
        {"none", sim::Fault::None, kNone, 0},
        {"silence", sim::Fault::Silence, kNone, 0},
        {"slow", sim::Fault::SlowBytes, kRequired, 60000},
        {"garbage", sim::Fault::Garbage, kRequired, 60000},
        {"broken", sim::Fault::BrokenFrame, kNone, 0},
        {"hangup", sim::Fault::HangUp, kNone, 0},
        {"echo", sim::Fault::Echo, kNone, 0},
        {"loopback", sim::Fault::Loopback, kNone, 0},
        {"halfhangup", sim::Fault::HalfThenHangUp, kNone, 0},
        {"reset", sim::Fault::Reset, kNone, 0},
        {"noise", sim::Fault::Noise, kOptional, 4000000},
        {"drip", sim::Fault::Drip, kOptional, 60000},
        {"changed", sim::Fault::ChangedByte, kOptional, 60000},
    };
    for (const auto& f : kFaults) {
        if (name != f.name) continue;
        long n = 0;
        if (colon != std::string::npos && (f.arg == kNone || !ParseInt(arg, 1, f.hi, &n))) return false;
        if (colon == std::string::npos && f.arg == kRequired) return false;
        *fault = f.fault;
        *param = static_cast<int>(n);
        return true;
    }
    return false;
}

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out.push_back(' ');
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

// Lines on stdout come from two threads: keep each whole.
platform::RecursiveMutex g_out;

void PrintLine(const std::string& text) {
    CAutoLockMutex lock(g_out);
    const platform::LocalTime t = platform::Now();
    std::printf("%02d:%02d:%02d.%03d %s\n", t.hour, t.minute, t.second, t.millisecond, text.c_str());
    std::fflush(stdout);
}

void PrintRecord(const sim::Record& r) {
    const bool out = r.kind == sim::Record::Sent || r.kind == sim::Record::LineCut;
    std::string line = out ? "-> " : "<- ";
    line += sim::RecordKindName(r.kind);
    if (r.kind == sim::Record::Tare || r.kind == sim::Record::Price || r.kind == sim::Record::Command) line += " " + std::to_string(r.value);
    if (!r.bytes.empty()) line += ": " + Hex(r.bytes);
    PrintLine(line);
}

// Applies one line typed on standard input; false for "q".
bool Command(sim::Simulator& s, std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    while (!line.empty() && line[0] == ' ') line.erase(0, 1);
    if (line.empty()) {
        s.PushReading();
        return true;
    }
    const char cmd = line[0];
    std::string arg = line.size() > 1 ? line.substr(1) : std::string();
    while (!arg.empty() && arg[0] == ' ') arg.erase(0, 1);
    double v = 0;
    long n = 0;
    switch (cmd) {
    case 'q': return false;
    case 'w':
        if (ParseSimulatedNumber(arg, &v)) s.SetWeight(v);
        else PrintLine("? weight: w 1.234");
        return true;
    case 'p':
        if (ParseSimulatedNumber(arg, &v)) s.SetPrice(v);
        else PrintLine("? price: p 12.50");
        return true;
    case 'c':
        if (ParseSimulatedNumber(arg, &v)) s.SetCost(v);
        else PrintLine("? cost: c 15.43");
        return true;
    case 't':
        if (ParseSimulatedNumber(arg, &v)) s.SetTare(v);
        else PrintLine("? tare: t 0.250");
        return true;
    case 's':
        if (ParseInt(arg, 0, 1, &n)) s.SetStable(n != 0);
        else PrintLine("? stable: s 0 or s 1");
        return true;
    case 'o':
        if (ParseInt(arg, 0, 1, &n)) s.SetOverload(n != 0);
        else PrintLine("? overload: o 0 or o 1");
        return true;
    case 'n':
        if (ParseInt(arg, 0, 1, &n)) s.SetNegative(n != 0);
        else PrintLine("? minus sign: n 0 or n 1");
        return true;
    case 'x': s.SetText(arg); return true;
    case 'g':
        if (ParseInt(arg, 0, 3600000, &n)) s.SetStreamGapMs(static_cast<int>(n));
        else PrintLine("? gap: g 100");
        return true;
    case 'f': {
        sim::Fault f;
        int param = 0;
        if (ParseSimulatedFault(arg, &f, &param)) s.SetFault(f, param);
        else PrintLine("? fault: none, silence, slow:MS, garbage:N, broken, hangup, echo, loopback, halfhangup, "
                       "reset, noise[:BAUD], drip[:MS], changed[:N]");
        return true;
    }
    case 'h': s.HangUp(); return true;
    default: PrintLine("? Enter, w, p, c, t, s, o, n, x, g, f, h or q"); return true;
    }
}

}  // namespace

int RunSimulate(const SimulateOptions& o) {
    const long model = o.model;
    bool noStdin = o.noStdin;
    sim::Simulator s(static_cast<int>(model));
    s.SetWeight(o.weight);
    s.SetStable(!o.unstable);
    s.SetOverload(o.overload);
    if (o.havePrice) s.SetPrice(o.price);
    if (o.haveCost) s.SetCost(o.cost);
    s.SetTare(o.tare);
    s.SetDecimals(o.decimals);
    s.SetNegative(o.negative);
    if (o.haveText) s.SetText(o.text);
    if (o.gap >= 0) s.SetStreamGapMs(o.gap);
    if (o.pace > 0) s.SetPaceBaud(o.pace);
    s.SetAckFirstByte(o.ackFirstByte);
    s.SetFault(o.fault, o.faultParam);
    s.SetCloseAfterReply(o.closeAfterReply);
    s.SetObserver(PrintRecord);

    const bool started = o.pty ? s.StartPty(o.link) : s.StartTcp(static_cast<uint16_t>(o.tcpPort));
    if (!started) {
        std::fprintf(stderr, "simulate: cannot start the %s\n", o.pty ? "pseudo-terminal" : "TCP server");
        return 1;
    }
    {
        CAutoLockMutex lock(g_out);
        if (o.pty) std::printf("%s\n", s.DevicePath().c_str());
        else std::printf("127.0.0.1:%u\n", static_cast<unsigned>(s.TcpPort()));
        std::fflush(stdout);
    }
    std::fprintf(stderr, "model %ld, line %s; Enter pushes, q quits\n", model, sim::LineSettings(static_cast<int>(model)));
    if (o.pushEvery > 0) s.SetPushPeriodMs(o.pushEvery);

    g_interrupted = 0;
    void (*oldInt)(int) = std::signal(SIGINT, OnInterrupt);
    void (*oldTerm)(int) = std::signal(SIGTERM, OnInterrupt);
    std::string pending;
    bool running = true;
    const int in = platform::StdinHandle();
    while (running && !g_interrupted) {
        if (noStdin) {
            platform::SleepMs(100);
            continue;
        }
        platform::WaitItem item{in, platform::kWaitReadable, 0};
        if (platform::WaitHandles(&item, 1, 100) <= 0) continue;
        char buf[256];
        const long n = platform::IoRead(in, buf, sizeof buf);
        if (n < 0) {
            // Standard input ended (a script, a service, `< /dev/null`): the
            // scale goes on serving until it is interrupted.
            noStdin = true;
            continue;
        }
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while (running && (nl = pending.find('\n')) != std::string::npos) {
            running = Command(s, pending.substr(0, nl));
            pending.erase(0, nl + 1);
        }
        if (pending.size() > 4096) pending.clear();  // no line that long is meaningful
    }
    s.Stop();
    std::signal(SIGINT, oldInt == SIG_ERR ? SIG_DFL : oldInt);
    std::signal(SIGTERM, oldTerm == SIG_ERR ? SIG_DFL : oldTerm);
    return 0;
}

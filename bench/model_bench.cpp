// One row per polled model of the model table: GetWeight through the loaded
// library against the simulated scale on a pseudo-terminal and over TCP,
// median and 99th percentile, against the wire-time floor of the exchange at
// 9600 baud (request and reply bytes at the model's framing, plus the pauses
// the protocol itself needs; every exchange for the protocols that always run
// all of them). Continuous-output models stream back to back and are held
// against one frame time: a call that lands mid-frame waits for the next
// frame start, so up to two frame times are expected. Prints a Markdown table.
//
// Then one row per event-driven model: the scale's send key pressed over
// and over (a reading pushed at 9600 baud), each time 300 to 900 ms after
// the previous event, so the frames land at every point of the listener's
// silent cycle (a 500 ms read, a 100 ms pause), though after the
// acknowledgement models 5 and 32 send for the previous reading and the
// 150 ms pause they hold after it. The latency runs from the moment the
// frame's last byte is on the line (the simulator's write of it returned)
// to the ExternalEvent reaching the host. Median and 99th percentile, on a
// pseudo-terminal and over TCP.
//
//   model_bench [--calls N] [--presses N] [--polled-only | --events-only] [MODEL ...]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "devices/ModelTable.h"
#include "host/Component.h"
#include "platform/sys.h"
#include "scales/exchange/PolledScale.h"
#include "sim/Simulator.h"

namespace {

using zel::devices::ModelInfo;
using zel::devices::ModelKind;
using zel::host::Value;

const int kBaud = 9600;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

int BitsPerByte(zel::LineVariant line) {
    switch (line) {
        case zel::LineVariant::k8E1: return 11;
        case zel::LineVariant::k8E2: return 12;
        default: return 10;
    }
}

struct Row {
    double median = 0, p99 = 0;
    int failures = 0;
};

Row Measure(const ModelInfo& m, bool tcp, bool ack, int calls, size_t* replyBytes) {
    sim::Simulator scale(m.number);
    scale.SetAckFirstByte(ack);
    scale.SetWeight(1.234);
    scale.SetPrice(10.0);
    scale.SetPaceBaud(kBaud);
    scale.SetStreamGapMs(0);  // a continuous-output scale talks back to back
    zel::host::Component driver;
    driver.SetParameter(u"model", Value::Int(m.number));
    driver.SetParameter(u"conleave", Value::Bool(true));
    if (tcp) {
        scale.StartTcp();
        driver.SetParameter(u"conntype", Value::Int(1));
        driver.SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
        driver.SetParameter(u"eport", Value::Int(scale.TcpPort()));
    } else {
        scale.StartPty();
        driver.SetParameter(u"conntype", Value::Int(0));
        driver.SetParameter(u"cport", Value::Text(zel::host::FromUtf8(scale.DevicePath())));
        driver.SetParameter(u"cbaudrate", Value::Int(kBaud));
    }
    *replyBytes = scale.Frame().size();
    std::u16string id = driver.Open();
    std::vector<double> took;
    Row row;
    for (int i = 0; i < calls + 2; ++i) {
        double start = NowMs();
        auto r = driver.Call(u"GetWeight", {Value::Text(id), Value()});
        double ms = NowMs() - start;
        if (!(r.ok && r.ret.boolean)) {
            ++row.failures;
            continue;
        }
        if (i >= 2) took.push_back(ms);  // the first calls open the line
    }
    driver.Call(u"Close", {Value::Text(id)});
    if (took.empty()) return row;
    std::sort(took.begin(), took.end());
    row.median = took[took.size() / 2];
    row.p99 = took[std::min(took.size() - 1, static_cast<size_t>(took.size() * 0.99))];
    return row;
}


// ---- Event-driven models ----------------------------------------------

double NowUs() {
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

struct EventRow {
    double median = 0, p99 = 0, max = 0;
    int events = 0, missed = 0;
    bool settled = false;
};

// The frames the simulated scale has written, with the time each write of
// a frame's last byte returned.
class SentFrames {
public:
    void Add(const std::string& bytes) {
        const double at = NowUs();
        std::lock_guard<std::mutex> lock(mu_);
        sent_.emplace_back(at, bytes);
    }
    // The time of the latest write of `frame`, 0 when none.
    double Latest(const std::string& frame) {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto it = sent_.rbegin(); it != sent_.rend(); ++it)
            if (it->second == frame) return it->first;
        return 0;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mu_);
        sent_.clear();
    }

private:
    std::mutex mu_;
    std::vector<std::pair<double, std::string>> sent_;
};

EventRow MeasureEvents(int model, bool tcp, int presses) {
    EventRow row;
    sim::Simulator scale(model);
    scale.SetWeight(1.234);
    scale.SetPrice(10.0);
    scale.SetPaceBaud(kBaud);
    SentFrames sent;
    scale.SetObserver([&sent](const sim::Record& r) {
        if (r.kind == sim::Record::Sent) sent.Add(r.bytes);
    });
    zel::host::Component driver;
    driver.SetParameter(u"model", Value::Int(model));
    if (tcp) {
        scale.StartTcp();
        driver.SetParameter(u"conntype", Value::Int(1));
        driver.SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
        driver.SetParameter(u"eport", Value::Int(scale.TcpPort()));
    } else {
        scale.StartPty();
        driver.SetParameter(u"conntype", Value::Int(0));
        driver.SetParameter(u"cport", Value::Text(zel::host::FromUtf8(scale.DevicePath())));
        driver.SetParameter(u"cbaudrate", Value::Int(kBaud));
    }
    const std::string frame = scale.Frame();
    std::u16string id = driver.Open();
    zel::host::ExternalEvent event;
    // The listener holds the line once a pushed reading comes back.
    for (int attempt = 0; attempt < 30 && !row.settled; ++attempt) {
        platform::SleepMs(100);
        if (!scale.PeerReady()) continue;
        scale.PushReading();
        row.settled = driver.WaitEvent(&event, 1000);
    }
    if (!row.settled) {
        driver.Call(u"Close", {Value::Text(id)});
        return row;
    }
    platform::SleepMs(400);  // the driver's answer to it, if the model has one
    while (driver.WaitEvent(&event, 0)) {
    }

    std::vector<double> took;
    uint32_t seed = 12345u + static_cast<uint32_t>(model) * 2u + (tcp ? 1u : 0u);
    for (int i = 0; i < presses; ++i) {
        seed = seed * 1664525u + 1013904223u;
        platform::SleepMs(300 + (seed >> 8) % 601);
        sent.Clear();
        scale.PushReading();
        if (!driver.WaitEvent(&event, 2000)) {
            ++row.missed;
            continue;
        }
        const double arrived = NowUs();
        // The simulator notes the frame just after its write returns; the
        // event can beat that note by microseconds, which counts as no lag.
        double last = sent.Latest(frame);
        for (int spin = 0; spin < 200 && last <= 0; ++spin) {
            platform::SleepMs(1);
            last = sent.Latest(frame);
        }
        if (last <= 0) {
            ++row.missed;
            continue;
        }
        took.push_back(std::max(0.0, arrived - last) / 1000.0);
    }
    driver.Call(u"Close", {Value::Text(id)});
    row.events = static_cast<int>(took.size());
    if (took.empty()) return row;
    std::sort(took.begin(), took.end());
    row.median = took[took.size() / 2];
    row.p99 = took[std::min(took.size() - 1, static_cast<size_t>(took.size() * 0.99))];
    row.max = took.back();
    return row;
}

void EventTable(const ModelInfo* models, size_t count, const std::vector<int>& only, int presses) {
    std::printf("\n| model | line | wire | frame bytes | frame ms | event median ms | p99 ms | max ms | events "
                "| missed |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < count; ++i) {
        const ModelInfo& m = models[i];
        if (m.kind != ModelKind::kListener || !zel::devices::IsBuilt(m) || !sim::ModelPushes(m.number)) continue;
        if (!only.empty() && std::find(only.begin(), only.end(), m.number) == only.end()) continue;
        const size_t bytes = sim::Simulator(m.number).Frame().size();
        const double frameMs = static_cast<double>(bytes) * 1000.0 * BitsPerByte(m.line) / kBaud;
        for (int tcp = 0; tcp < 2; ++tcp) {
            EventRow row = MeasureEvents(m.number, tcp != 0, presses);
            if (!row.settled) {
                std::printf("| %d | %s | %s | %zu | %.1f | - | - | - | 0 | the listener never published |\n", m.number,
                            zel::LineName(m.line), tcp ? "tcp" : "pty", bytes, frameMs);
            } else {
                std::printf("| %d | %s | %s | %zu | %.1f | %.2f | %.2f | %.2f | %d | %d |\n", m.number,
                            zel::LineName(m.line), tcp ? "tcp" : "pty", bytes, frameMs, row.median, row.p99, row.max,
                            row.events, row.missed);
            }
            std::fflush(stdout);
        }
    }
}

void PolledTable(const ModelInfo* models, size_t count, const std::vector<int>& only, int calls);

}  // namespace

int main(int argc, char** argv) {
    int calls = 30, presses = 100;
    bool polledRows = true, eventRows = true;
    std::vector<int> only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--calls") && i + 1 < argc) {
            calls = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--presses") && i + 1 < argc) {
            presses = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--polled-only")) {
            eventRows = false;
        } else if (!std::strcmp(argv[i], "--events-only")) {
            polledRows = false;
        } else {
            only.push_back(std::atoi(argv[i]));
        }
    }
    size_t count = 0;
    const ModelInfo* models = zel::devices::AllModels(&count);
    if (polledRows) PolledTable(models, count, only, calls);
    if (eventRows) EventTable(models, count, only, presses);
    return 0;
}

namespace {

void PolledTable(const ModelInfo* models, size_t count, const std::vector<int>& only, int calls) {
    std::printf("| model | line | wire | median ms | p99 ms | floor ms | median / floor | failures |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < count; ++i) {
        const ModelInfo& m = models[i];
        if (m.kind != ModelKind::kPolled || !zel::devices::IsBuilt(m) || !sim::ModelSupported(m.number)) continue;
        if (!only.empty() && std::find(only.begin(), only.end(), m.number) == only.end()) continue;
        std::unique_ptr<IScalesObject> object(CreateScalesObject(m.number));
        auto* polled = dynamic_cast<CPolledProtocolScale*>(object.get());
        // A split request is measured twice: against a scale that stays
        // silent until the whole request is in (the pause is needed), and
        // against one that answers the first byte at once, as CAS scales do.
        const bool split = polled && polled->Protocol().splitSend;
        for (int run = 0; run < (split ? 4 : 2); ++run) {
            const bool tcp = run % 2 == 1, ack = run >= 2;
            size_t replyBytes = 0;
            Row row = Measure(m, tcp, ack, calls, &replyBytes);
            const double byteMs = 1000.0 * BitsPerByte(m.line) / kBaud;
            double floor = static_cast<double>(replyBytes) * byteMs;
            if (polled) {
                const auto& p = polled->Protocol();
                if (p.requestLength > 0) floor += p.requestLength * byteMs;
                if (p.splitSend && !ack) floor += 150.0;
                // Protocols that always run every exchange pay for each.
                if (!p.stopOnSuccess) floor *= p.attempts;
            }
            std::printf("| %d | %s | %s%s | %.1f | %.1f | %.1f | %.2f | %d |\n", m.number, zel::LineName(m.line),
                        tcp ? "tcp" : "pty", ack ? " (ack)" : "", row.median, row.p99, floor, floor > 0 ? row.median / floor : 0.0,
                        row.failures);
            std::fflush(stdout);
        }
    }
}

}  // namespace

// One row per polled model of the model table: GetWeight through the loaded
// library against the simulated scale on a pseudo-terminal and over TCP,
// median and 99th percentile, against the wire-time floor of the exchange at
// 9600 baud (request and reply bytes at the model's framing, plus the pauses
// the protocol itself needs; every exchange for the protocols that always run
// all of them). Continuous-output models stream back to back and are held
// against one frame time: a call that lands mid-frame waits for the next
// frame start, so up to two frame times are expected. Prints a Markdown table.
//
//   model_bench [--calls N] [MODEL ...]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
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

}  // namespace

int main(int argc, char** argv) {
    int calls = 30;
    std::vector<int> only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--calls") && i + 1 < argc) {
            calls = std::atoi(argv[++i]);
        } else {
            only.push_back(std::atoi(argv[i]));
        }
    }
    size_t count = 0;
    const ModelInfo* models = zel::devices::AllModels(&count);
    std::printf("| model | line | wire | median ms | p99 ms | floor ms | median / floor | failures |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < count; ++i) {
        const ModelInfo& m = models[i];
        if (m.kind != ModelKind::kPolled || !m.create || !sim::ModelSupported(m.number)) continue;
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
    return 0;
}

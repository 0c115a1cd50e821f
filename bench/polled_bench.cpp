// Latency of one GetWeight call through the loaded library. Counters:
//   lag_ms  from the simulator writing the reply's last byte to the call
//           returning (the driver's own reaction time);
// the benchmark's time is the whole call, which for CAS models includes the
// 150 ms pause between the two request bytes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "host/Component.h"
#include "platform/sys.h"
#include "sim/Simulator.h"

namespace {

using zel::host::Value;

enum Wire { kPty = 0, kTcp = 1 };

struct Rig {
    std::unique_ptr<sim::Simulator> sim;
    zel::host::Component component;
    std::u16string id;

    Rig(int model, int wire, bool keep) {
        component.SetParameter(u"model", Value::Int(model));
        component.SetParameter(u"conleave", Value::Bool(keep));
        if (model != 20) {
            sim.reset(new sim::Simulator(model));
            sim->SetWeight(1.234);
            if (wire == kPty) {
                sim->StartPty();
                component.SetParameter(u"conntype", Value::Int(0));
                component.SetParameter(u"cport", Value::Text(zel::host::FromUtf8(sim->DevicePath())));
                component.SetParameter(u"cbaudrate", Value::Int(9600));
            } else {
                sim->StartTcp();
                component.SetParameter(u"conntype", Value::Int(1));
                component.SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
                component.SetParameter(u"eport", Value::Int(sim->TcpPort()));
            }
        }
        id = component.Open();
    }

    bool Weigh() {
        auto r = component.Call(u"GetWeight", {Value::Text(id), Value()});
        return r.ok && r.ret.boolean;
    }
};

// Arguments: model, wire, keep connection.
void BM_GetWeight(benchmark::State& state) {
    const int model = static_cast<int>(state.range(0));
    Rig rig(model, static_cast<int>(state.range(1)), state.range(2) != 0);
    double lagTotal = 0, lagMax = 0;
    int64_t failures = 0, n = 0;
    for (auto _ : state) {
        bool ok = rig.Weigh();
        uint64_t returned = platform::MonotonicMs();
        if (!ok) {
            ++failures;
            continue;
        }
        if (rig.sim) {
            state.PauseTiming();
            // The simulator notes its send time just after the write returns.
            for (int spin = 0; spin < 100 && rig.sim->FramesSent() < n + 1; ++spin) platform::SleepMs(1);
            uint64_t sent = rig.sim->LastFrameSentMs();
            double lag = returned > sent ? static_cast<double>(returned - sent) : 0.0;
            lagTotal += lag;
            if (lag > lagMax) lagMax = lag;
            state.ResumeTiming();
        }
        ++n;
    }
    if (rig.sim && n > 0) {
        state.counters["lag_ms"] = lagTotal / static_cast<double>(n);
        state.counters["lag_max_ms"] = lagMax;
    }
    state.counters["failures"] = static_cast<double>(failures);
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"model", "tcp", "keep"});
    for (int model : {13, 27, 14, 10})
        for (int wire : {kPty, kTcp})
            for (int keep : {1, 0}) b->Args({model, wire, keep});
    b->Args({20, 0, 0});  // the emulator: no line at all
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
}

}  // namespace

BENCHMARK(BM_GetWeight)->Apply(Args);
BENCHMARK_MAIN();

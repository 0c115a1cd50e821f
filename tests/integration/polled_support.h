// The driver library, loaded through the host layer, weighing a simulated
// polled scale on a pseudo-terminal or over TCP loopback.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "host/Component.h"
#include "platform/sys.h"
#include "sim/Simulator.h"

namespace zeltest {

enum class Wire { Pty, Tcp };

inline const char* WireName(Wire w) { return w == Wire::Pty ? "pty" : "tcp"; }

struct Weighing {
    bool ok = false;
    int32_t code = -1;
    double weight = 0, price = 0, cost = 0;
    int64_t stable = -1;
    uint64_t returnedMs = 0;  // MonotonicMs() when GetWeightPriceCost returned
    uint64_t tookMs = 0;
};

// One driver component and one simulated scale joined by a line.
class PolledRig {
public:
    // `hook` sees every record of the simulated scale as it is made.
    PolledRig(int model, Wire wire, bool keepConnection = false,
              std::function<void(sim::Simulator&, const sim::Record&)> hook = nullptr)
        : sim(model), component(new zel::host::Component(zel::host::DefaultLibraryPath())) {
        using zel::host::Value;
        if (hook) {
            sim::Simulator* s = &sim;
            sim.SetObserver([s, hook](const sim::Record& r) { hook(*s, r); });
        }
        bool started = wire == Wire::Pty ? sim.StartPty() : sim.StartTcp();
        EXPECT_TRUE(started);
        component->SetParameter(u"model", Value::Int(model));
        component->SetParameter(u"conleave", Value::Bool(keepConnection));
        if (wire == Wire::Pty) {
            component->SetParameter(u"conntype", Value::Int(0));
            component->SetParameter(u"cport", Value::Text(zel::host::FromUtf8(sim.DevicePath())));
            component->SetParameter(u"cbaudrate", Value::Int(9600));
        } else {
            component->SetParameter(u"conntype", Value::Int(1));
            component->SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
            component->SetParameter(u"eport", Value::Int(sim.TcpPort()));
        }
        id = component->Open();
        openCode = component->LastError();
    }

    Weighing Weigh() {
        using zel::host::Value;
        Weighing w;
        uint64_t start = platform::MonotonicMs();
        auto r = component->Call(u"GetWeightPriceCost", {Value::Text(id), Value(), Value(), Value(), Value()});
        w.returnedMs = platform::MonotonicMs();
        w.tookMs = w.returnedMs - start;
        w.ok = r.ok && r.ret.boolean;
        w.code = component->LastError();
        if (r.params.size() == 5) {
            w.weight = r.params[1].number;
            w.price = r.params[2].number;
            w.cost = r.params[3].number;
            w.stable = r.params[4].integer;
        }
        return w;
    }

    sim::Simulator sim;
    std::unique_ptr<zel::host::Component> component;
    std::u16string id;
    int32_t openCode = -1;
};

}  // namespace zeltest

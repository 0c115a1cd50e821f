// The driver library, loaded through the host layer, listening to a
// simulated event-driven scale on a pseudo-terminal or over TCP loopback.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "host/Component.h"
#include "platform/sys.h"
#include "sim/Simulator.h"

namespace zeltest {

enum class Line { Pty, Tcp };

inline const char* LineName(Line l) { return l == Line::Pty ? "pty" : "tcp"; }

// A case's name as a test name: every character that is no letter or digit
// becomes '_'.
inline std::string CaseName(const char* name) {
    std::string out;
    for (const char* p = name; *p; ++p) out += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return out;
}

struct Event {
    std::string data;
    uint64_t atMs = 0;  // MonotonicMs() when the host saw it
};

class ListenerRig {
public:
    ListenerRig(int model, Line line, const char* coeff = nullptr,
                const zel::host::Component::Options& options = zel::host::Component::Options())
        : sim(model), driver(new zel::host::Component(zel::host::DefaultLibraryPath(), options)) {
        using zel::host::Value;
        EXPECT_TRUE(line == Line::Pty ? sim.StartPty() : sim.StartTcp());
        driver->SetParameter(u"model", Value::Int(model));
        if (coeff) driver->SetParameter(u"coeff", Value::Text(zel::host::FromUtf8(coeff)));
        if (line == Line::Pty) {
            driver->SetParameter(u"conntype", Value::Int(0));
            driver->SetParameter(u"cport", Value::Text(zel::host::FromUtf8(sim.DevicePath())));
            driver->SetParameter(u"cbaudrate", Value::Int(9600));
        } else {
            driver->SetParameter(u"conntype", Value::Int(1));
            driver->SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
            driver->SetParameter(u"eport", Value::Int(sim.TcpPort()));
        }
        id16 = driver->Open();
        id = zel::host::ToUtf8(id16);
        openCode = driver->LastError();
    }

    // Waits until the listener holds the line: pushes readings until one
    // comes back as an event, then forgets that reading and what the driver
    // answered to it.
    bool Settle() {
        for (int attempt = 0; attempt < 30; ++attempt) {
            platform::SleepMs(100);
            if (!sim.PeerReady()) continue;
            sim.PushReading();
            Event e;
            if (NextEvent(&e, 800)) {
                platform::SleepMs(400);  // the answer to it (acknowledgement)
                Drain();
                sim.ClearReceived();
                return true;
            }
        }
        return false;
    }

    bool NextEvent(Event* event, unsigned timeoutMs) {
        zel::host::ExternalEvent raw;
        if (!driver->WaitEvent(&raw, timeoutMs)) return false;
        event->atMs = platform::MonotonicMs();
        EXPECT_EQ(raw.source, u"EventScales");
        EXPECT_EQ(raw.message, u"NewData");
        event->data = zel::host::ToUtf8(raw.data);
        return true;
    }

    // Every event that arrives within `quietMs` of the previous one.
    std::vector<Event> Collect(unsigned quietMs) {
        std::vector<Event> events;
        Event e;
        while (NextEvent(&e, quietMs)) events.push_back(e);
        return events;
    }

    void Drain() {
        Event e;
        while (NextEvent(&e, 0)) {
        }
    }

    bool Call(const std::u16string& method, const std::vector<zel::host::Value>& args) {
        auto r = driver->Call(method, args);
        return r.ok && r.ret.boolean;
    }
    bool SetPrice(int32_t hundredths) {
        return Call(u"SetPrice", {zel::host::Value::Text(id16), zel::host::Value::Int(hundredths)});
    }
    bool Calibrate() { return Call(u"Calibrate", {zel::host::Value::Text(id16), zel::host::Value::Double(0.0)}); }
    bool Close() { return Call(u"Close", {zel::host::Value::Text(id16)}); }

    // Records of one kind that the simulator saw from the driver.
    std::vector<sim::Record> Seen(sim::Record::Kind kind) const {
        std::vector<sim::Record> out;
        for (const sim::Record& r : sim.Log())
            if (r.kind == kind) out.push_back(r);
        return out;
    }

    sim::Simulator sim;
    std::unique_ptr<zel::host::Component> driver;
    std::u16string id16;
    std::string id;
    int32_t openCode = -1;
};

inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

}  // namespace zeltest

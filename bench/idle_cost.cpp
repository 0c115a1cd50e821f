// What open but idle devices cost: CPU time of the whole process while
// event-driven devices listen to silent scales and polled devices keep their
// lines open, over a few seconds of wall time. Prints one line per case.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/Component.h"
#include "platform/sys.h"
#include "sim/Simulator.h"

namespace {

using zel::host::Value;

struct Device {
    std::unique_ptr<sim::Simulator> sim;
    std::u16string id;
};

double IdleCpuPercent(int model, bool keepConnection, int devices, unsigned seconds) {
    zel::host::Component driver;
    std::vector<Device> open;
    for (int i = 0; i < devices; ++i) {
        Device d;
        d.sim.reset(new sim::Simulator(model));
        d.sim->StartPty();
        driver.SetParameter(u"model", Value::Int(model));
        driver.SetParameter(u"conleave", Value::Bool(keepConnection));
        driver.SetParameter(u"conntype", Value::Int(0));
        driver.SetParameter(u"cport", Value::Text(zel::host::FromUtf8(d.sim->DevicePath())));
        driver.SetParameter(u"cbaudrate", Value::Int(9600));
        d.id = driver.Open();
        if (model == 13) driver.Call(u"GetWeight", {Value::Text(d.id), Value()});  // the line is now held open
        open.push_back(std::move(d));
    }
    platform::SleepMs(500);  // listeners settle
    uint64_t cpu0 = platform::ProcessCpuMs(), wall0 = platform::MonotonicMs();
    platform::SleepMs(seconds * 1000);
    uint64_t cpu = platform::ProcessCpuMs() - cpu0, wall = platform::MonotonicMs() - wall0;
    for (Device& d : open) driver.Call(u"Close", {Value::Text(d.id)});
    return 100.0 * static_cast<double>(cpu) / static_cast<double>(wall);
}

}  // namespace

int main() {
    struct Case {
        const char* name;
        int model;
        bool keep;
        int devices;
    } cases[] = {
        {"nothing open (simulators only)", 13, false, 0},
        {"4 event-driven devices (model 5), silent scales", 5, false, 4},
        {"4 event-driven devices (model 22), silent scales", 22, false, 4},
        {"4 polled devices (model 13), lines held open", 13, true, 4},
    };
    for (const Case& c : cases) {
        double pct = IdleCpuPercent(c.model, c.keep, c.devices, 3);
        std::printf("%-52s %6.2f %% of one core\n", c.name, pct);
    }
    return 0;
}

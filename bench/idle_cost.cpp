// What open but idle devices cost: the process's CPU time over a stretch of
// wall time while polled devices hold their lines open and event-driven
// devices listen to silent scales. The "scales" are lines this program holds
// and never touches once the devices are open (bench/held_lines.h), so the
// time measured is the driver's. Prints a Markdown table.
//
//   idle_cost [--seconds N] [--polled MODEL]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/held_lines.h"
#include "host/Component.h"
#include "platform/sys.h"
#include "sim/Simulator.h"

namespace {

using bench::HeldLines;
using bench::PointAt;
using zel::host::Value;

const int kListenerModels[] = {5, 32, 6, 15, 22};

struct Case {
    const char* name;
    int polled;     // polled devices holding their lines
    int listeners;  // silent event-driven devices
    bool tcp;
};

struct Outcome {
    double percent = 0;
    uint64_t cpuMs = 0, wallMs = 0;
    int polledAnswered = 0;
    int held = 0;
};

// Opens `count` devices of `model` on held lines; polled ones weigh once so
// the line stays open (keep-connection on). One component takes at most 100.
void OpenDevices(zel::host::Component& driver, HeldLines& lines, int model, int count, bool tcp, bool polled,
                 std::vector<std::u16string>* ids) {
    for (int i = 0; i < count; ++i) {
        const int m = polled ? model : kListenerModels[i % 5];
        driver.SetParameter(u"model", Value::Int(m));
        driver.SetParameter(u"conleave", Value::Bool(polled));
        PointAt(driver, lines, tcp, tcp ? std::string() : lines.NewPty());
        std::u16string id = driver.Open();
        if (polled) driver.Call(u"GetWeight", {Value::Text(id), Value()});
        ids->push_back(id);
    }
}

Outcome Run(const Case& c, int polledModel, unsigned seconds) {
    Outcome out;
    bench::HeldLines lines;
    zel::host::Component polledDriver, listenerDriver;
    std::vector<std::u16string> polledIds, listenerIds;
    sim::Simulator frames(polledModel);  // never started: only its frame
    frames.SetWeight(1.234);
    lines.Serve(frames.Frame());
    OpenDevices(polledDriver, lines, polledModel, c.polled, c.tcp, true, &polledIds);
    OpenDevices(listenerDriver, lines, 0, c.listeners, c.tcp, false, &listenerIds);
    // Listeners connect on their own threads; TCP ones need accepting.
    const uint64_t until = platform::MonotonicMs() + 3000;
    while (platform::MonotonicMs() < until && lines.Held() < c.polled + c.listeners)
        platform::SleepMs(10);
    platform::SleepMs(500);
    lines.StopServing();
    out.polledAnswered = lines.Answered();
    platform::SleepMs(1000);  // whatever the opens left behind settles

    const uint64_t cpu0 = platform::ProcessCpuMs(), wall0 = platform::MonotonicMs();
    platform::SleepMs(seconds * 1000);
    out.cpuMs = platform::ProcessCpuMs() - cpu0;
    out.wallMs = platform::MonotonicMs() - wall0;
    out.percent = 100.0 * static_cast<double>(out.cpuMs) / static_cast<double>(out.wallMs);
    out.held = lines.Held();

    for (const std::u16string& id : polledIds) polledDriver.Call(u"Close", {Value::Text(id)});
    for (const std::u16string& id : listenerIds) listenerDriver.Call(u"Close", {Value::Text(id)});
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned seconds = 10;
    int polledModel = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds")) seconds = static_cast<unsigned>(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--polled")) polledModel = std::atoi(argv[i + 1]);
    }
    if (seconds == 0) seconds = 1;
    const Case cases[] = {
        {"nothing open", 0, 0, false},
        {"100 polled devices, lines held open", 100, 0, false},
        {"100 polled devices, lines held open", 100, 0, true},
        {"5 event-driven devices (5, 32, 6, 15, 22), silent", 0, 5, false},
        {"5 event-driven devices (5, 32, 6, 15, 22), silent", 0, 5, true},
        {"100 polled + 5 event-driven devices", 100, 5, false},
        {"100 polled + 5 event-driven devices", 100, 5, true},
    };
    std::printf("| idle devices (polled: model %d) | wire | CPU ms / wall ms | %% of one core | lines held "
                "| polled lines answered |\n",
                polledModel);
    std::printf("|---|---|---|---|---|---|\n");
    for (const Case& c : cases) {
        Outcome o = Run(c, polledModel, seconds);
        std::printf("| %s | %s | %llu / %llu | %.3f | %d / %d | %d / %d |\n", c.name, c.tcp ? "tcp" : "pty",
                    static_cast<unsigned long long>(o.cpuMs), static_cast<unsigned long long>(o.wallMs), o.percent,
                    o.held, c.polled + c.listeners, o.polledAnswered, c.polled);
        std::fflush(stdout);
    }
    return 0;
}

// What an open device costs in memory: resident size and heap in use of the
// process before and after opening 100 devices of one kind (polled devices
// weigh once so their lines stay open; event-driven ones run their listener
// threads against silent lines), divided by 100; and the heap still held per
// device once they are all closed again. One device is opened and closed
// first so that one-time costs (the library's first use) are not counted.
// Lines as in idle_cost. Prints a Markdown table.
//
//   memory_cost [--polled MODEL]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/held_lines.h"
#include "host/Component.h"
#include "platform/sys.h"
#include "sim/Simulator.h"

namespace {

using bench::HeldLines;
using zel::host::Value;

const int kDevices = 100;
const int kListenerModels[] = {5, 32, 6, 15, 22};

struct Outcome {
    double residentKb = 0, heapKb = 0, heapLeftKb = 0;
    int held = 0;
};

double PerDeviceKb(uint64_t after, uint64_t before, int devices) {
    const double diff = static_cast<double>(after) - static_cast<double>(before);
    return diff / 1024.0 / devices;
}

Outcome Run(int polledModel, bool polled, bool tcp) {
    Outcome out;
    HeldLines lines;
    zel::host::Component driver;
    sim::Simulator frames(polledModel);  // never started: only its frame
    frames.SetWeight(1.234);
    lines.Serve(polled ? frames.Frame() : std::string());
    auto open = [&](int i) {
        driver.SetParameter(u"model", Value::Int(polled ? polledModel : kListenerModels[i % 5]));
        driver.SetParameter(u"conleave", Value::Bool(polled));
        bench::PointAt(driver, lines, tcp, tcp ? std::string() : lines.NewPty());
        std::u16string id = driver.Open();
        if (polled) driver.Call(u"GetWeight", {Value::Text(id), Value()});
        return id;
    };
    // The first use of every kind, then closed.
    for (int i = 0; i < (polled ? 1 : 5); ++i) driver.Call(u"Close", {Value::Text(open(i))});
    platform::SleepMs(300);

    platform::MemoryUse before, opened, closed;
    lines.Reserve(kDevices * 2);
    platform::ProcessMemory(&before);
    // (The IDs kept here add about 50 bytes a device.)
    std::vector<std::u16string> ids;
    ids.reserve(kDevices);
    for (int i = 0; i < kDevices; ++i) ids.push_back(open(i));
    const uint64_t until = platform::MonotonicMs() + 5000;
    while (platform::MonotonicMs() < until && lines.Held() < kDevices) platform::SleepMs(20);
    platform::SleepMs(1000);  // listeners settle into their silent cycle
    platform::ProcessMemory(&opened);
    out.held = lines.Held();
    for (const std::u16string& id : ids) driver.Call(u"Close", {Value::Text(id)});
    lines.StopServing();
    platform::ProcessMemory(&closed);

    out.residentKb = PerDeviceKb(opened.resident, before.resident, kDevices);
    out.heapKb = PerDeviceKb(opened.heap, before.heap, kDevices);
    out.heapLeftKb = PerDeviceKb(closed.heap, before.heap, kDevices);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int polledModel = 1;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--polled")) polledModel = std::atoi(argv[i + 1]);
    std::printf("| %d open devices | wire | resident KiB / device | heap KiB / device "
                "| heap KiB / device left after closing | lines held |\n",
                kDevices);
    std::printf("|---|---|---|---|---|---|\n");
    for (int kind = 0; kind < 2; ++kind) {
        for (int tcp = 0; tcp < 2; ++tcp) {
            const bool polled = kind == 0;
            Outcome o = Run(polledModel, polled, tcp != 0);
            char name[64];
            if (polled) std::snprintf(name, sizeof name, "polled (model %d)", polledModel);
            else std::snprintf(name, sizeof name, "event-driven (5, 32, 6, 15, 22)");
            std::printf("| %s | %s | %.1f | %.2f | %.2f | %d / %d |\n", name, tcp ? "tcp" : "pty", o.residentKb,
                        o.heapKb, o.heapLeftKb, o.held, kDevices);
            std::fflush(stdout);
        }
    }
    return 0;
}

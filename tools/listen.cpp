// `zelscales listen`: opens an event-driven scale and prints the data line of
// every reading the scale pushes, as the platform's external-event handler
// would receive it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "platform/sys.h"
#include "tools/event_line.h"
#include "tools/identity.h"
#include "tools/json.h"
#include "tools/text.h"
#include "tools/listen.h"
#include "tools/why.h"
#include "tools/trace.h"

using zel::host::CallResult;
using zel::host::Component;
using zel::host::Value;
using namespace zelscales;

namespace {

const char kListenUsage[] =
    "usage: zelscales listen [--model M] (--port NAME [--baud B] | --host H [--tcp-port P])\n"
    "                        [--coeff X] [--count N] [--price X | --cents N] [--tare] [--json] [--verbose]\n"
    "                        [--trace]\n"
    "\n"
    "Prints the data line of each reading an event-driven scale sends (models 5, 32, 15, 22;\n"
    "default 5) until N readings arrived or Ctrl-C. --price/--cents and --tare send that\n"
    "command once the scale is open. A line that cannot be opened, is lost or comes back\n"
    "is told on stderr. --verbose shows the driver calls and the events; --trace the\n"
    "line traffic as it happens (the readings, acknowledgements, tare and price frames).\n"
    "The library runs from a private copy: nothing is written beside it.\n"
    "--json prints each reading as one JSON object per line: time, result, model, source,\n"
    "message, the fields of the model's data line (weight, and tare, price, cost, device,\n"
    "text where it has them) and the raw line.\n";

// Time to let a flagged command reach the scale: the listener reopens the
// line after the open (a pause and a connect) and writes at its next read
// attempt; a price goes twice, 200 ms apart, with a pause after each.
const unsigned kCommandSettleMs = 1500;
const unsigned kPollMs = 100;

std::string TimeStamp() {
    platform::LocalTime t = platform::Now();
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, t.millisecond);
    return buf;
}

// The line as the driver's listener sees it, from the device's traffic log:
// a line that cannot be opened, is lost or comes back is told on stderr.
struct LineReport {
    TrafficTap* traffic = nullptr;
    LineWatch watch;

    void Poll(const Options& o) {
        if (!traffic) return;
        std::unique_ptr<std::vector<TrafficBlock>> blocks = traffic->Take();
        if (!blocks) return;
        for (LineWatch::Change change : watch.Feed(*blocks)) {
            platform::LineProbe probe;
            if (change == LineWatch::Change::kCannotOpen) probe = ProbeLine(o);
            std::fprintf(stderr, "%s %s\n", TimeStamp().c_str(), ChangeText(o, change, &probe).c_str());
            std::fflush(stderr);
        }
    }
};

// Prints the events that arrive within `ms`; stops early at `limit` events
// (0 = no limit) or on Ctrl-C. Returns how many were printed.
int PrintEvents(Component& driver, const Options& o, unsigned ms, int limit, LineReport* line) {
    int printed = 0;
    const uint64_t end = ms ? platform::MonotonicMs() + ms : 0;
    while (!Interrupted() && (limit == 0 || printed < limit)) {
        uint64_t now = platform::MonotonicMs();
        if (end && now >= end) break;
        unsigned wait = kPollMs;
        if (end && end - now < wait) wait = static_cast<unsigned>(end - now);
        zel::host::ExternalEvent event;
        if (driver.WaitEvent(&event, wait)) {
            if (o.verbose)
                std::fprintf(stderr, "%s %s/%s\n", TimeStamp().c_str(), zel::host::ToUtf8(event.source).c_str(),
                             zel::host::ToUtf8(event.message).c_str());
            const std::string line = zel::host::ToUtf8(event.data);
            if (o.json) {
                json::Object reading;
                reading.Time().Int("result", 0).Int("model", o.model);
                reading.String("source", zel::host::ToUtf8(event.source))
                    .String("message", zel::host::ToUtf8(event.message));
                AddEventFields(o.model, line, reading);
                reading.String("line", line);
                std::printf("%s\n", reading.Text().c_str());
            } else {
                std::printf("%s\n", line.c_str());
            }
            std::fflush(stdout);
            ++printed;
        }
        if (line) line->Poll(o);
    }
    return printed;
}

}  // namespace

namespace zelscales {

const char* ListenUsage() { return kListenUsage; }

bool IsEventModel(int model) {
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    return row && row->kind == zel::devices::ModelKind::kListener;
}

int FinishEventCommand(Component& driver, const Options& options) {
    if (options.verbose) std::fprintf(stderr, "waiting for the scale's listener to send it\n");
    // --count bounds the events shown, as it bounds the readings of a polled scale.
    PrintEvents(driver, options, kCommandSettleMs, options.count, nullptr);
    return 0;
}

// Options: model 5 and count 0 (until Ctrl-C) unless given.
int RunListen(const Options& options) {
    Options o = options;  // the library becomes the private copy
    std::string error;
    if (!IsEventModel(o.model))
        return Fail("model " + std::to_string(o.model) + " does not send readings by itself; use `zelscales weigh`",
                    kExitUsage);
    if (o.port.empty() && o.host.empty()) return Fail("listen needs --port NAME or --host H", kExitUsage);
    int32_t price = 0;
    bool withPrice = !o.price.empty() || o.centsGiven;
    if (o.centsGiven) {
        price = o.cents;
    } else if (!o.price.empty() && !ParsePrice(o.price, price)) {
        return Fail("bad --price " + o.price, kExitUsage);
    }

    // From here a signal only stops the listening: the device is closed and
    // the library unloaded first.
    CatchInterrupts();
    // Another build is refused under its own name, before a private copy is made.
    if (!CheckLibraryBuild(o, LibraryPath(o), error)) return Fail(error, kExitNoLibrary);
    TraceSession trace;  // after the driver is unloaded, ends the trace
    // With log.txt beside the library the driver's own traffic log is read
    // there; otherwise a private copy writes one.
    if ((o.trace || !TrafficLogOn(o)) && !trace.Start(o, error, o.trace)) return Fail(error, kExitNoLibrary);
    std::unique_ptr<Component> driver = LoadDriver(o, error);
    if (!driver) return Fail(error, kExitNoLibrary);
    // The listener tells of its line only in the traffic log, which the
    // private copy's folder switches on.
    std::unique_ptr<TrafficTap> traffic(new TrafficTap(driver->library().path()));
    if (!traffic->On()) std::fprintf(stderr, "the line is not watched: %s\n", traffic->Problem().c_str());
    LineReport line;
    line.traffic = traffic.get();

    std::u16string id;
    if (!OpenDevice(*driver, o, id, error)) return Interrupted() ? InterruptedStatus() : Fail(error);
    traffic->Follow(zel::host::ToUtf8(id));

    int status = 0;
    if (withPrice && !Interrupted()) {
        CallResult r = CallLogged(*driver, o, u"SetPrice", {Value::Text(id), Value::Int(price)});
        if (r.ok && r.ret.boolean) {
            std::fprintf(stderr, "price %s flagged for the scale\n", text::HundredthsText(price).c_str());
        } else {
            status = Fail(FailedCommandText(o, "price not accepted", driver->LastError(), LastErrorText(*driver, o)));
        }
    }
    if (o.tare && status == 0 && !Interrupted()) {
        CallResult r = CallLogged(*driver, o, u"Calibrate", {Value::Text(id), Value::Double(0.0)});
        if (r.ok && r.ret.boolean) {
            std::fprintf(stderr, "tare flagged for the scale\n");
        } else {
            status = Fail(FailedCommandText(o, "tare not accepted", driver->LastError(), LastErrorText(*driver, o)));
        }
    }
    if (status == 0) {
        if (o.verbose) std::fprintf(stderr, "listening on device %s\n", zel::host::ToUtf8(id).c_str());
        PrintEvents(*driver, o, 0, o.count, &line);
    }
    // Close stops the driver's listener thread and frees the line.
    CloseAndUnload(driver, o, id);
    traffic.reset();
    trace.Stop();
    if (status == 0 && Interrupted()) status = InterruptedStatus();
    return status;
}

}  // namespace zelscales

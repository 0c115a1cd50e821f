// zelscales: the driver's whole job from a terminal, through the same host
// layer the tests use.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "platform/sys.h"
#include "tools/commands.h"
#include "tools/detect.h"
#include "tools/detect_plan.h"
#include "tools/json.h"
#include "tools/listen.h"
#include "tools/ports.h"

#if !defined(_WIN32) && defined(__has_include)
#if __has_include("sim/simulate_cli.h")
#include "sim/simulate_cli.h"
#define ZEL_HAVE_SIMULATE 1
#endif
#endif

using namespace zelscales;
using zel::host::CallResult;
using zel::host::Component;
using zel::host::Value;

namespace {

const char kUsage[] =
    "usage: zelscales [--library PATH] [--verbose] COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  weigh     read the weight (--count N, 0 = until Ctrl-C; --interval MS, --attempts N)\n"
    "  price     send a unit price (--price 12.50 or --cents 1250), then weigh\n"
    "  tare      send the tare command\n"
    "  test      run the driver's device test\n"
    "  params    print the parameter form (XML)\n"
    "  models    list the scale models (--markdown: as a Markdown table)\n"
    "  version   print the driver's version and description, and the library file loaded\n"
    "  listen    print the readings an event-driven scale pushes\n"
    "  detect    find the model and speed of the scale on a line (--bauds B,B,...)\n"
    "  ports     list the serial ports, free or busy, with their USB details (--json)\n"
#ifdef ZEL_HAVE_SIMULATE
    "  simulate  run a simulated scale on a pseudo-terminal or TCP port\n"
#endif
    "\n"
    "scale options (default: the built-in emulator, model 20):\n"
    "  --model M            model number (see `zelscales models`)\n"
    "  --port NAME          serial port, e.g. /dev/ttyUSB0 or COM3\n"
    "  --baud B             serial speed (default 4800)\n"
    "  --host H             scale on TCP instead of a serial port\n"
    "  --tcp-port P         TCP port (default 20108)\n"
    "  --coeff X            weight coefficient (default 1.000)\n"
    "  --leave              keep the line open between requests\n"
    "\n"
    "output:\n"
    "  --json               weigh, price and listen print one JSON object per reading\n"
    "                       or event, one a line, and nothing else on stdout:\n"
    "                       time (UTC), result (0 = a reading), model, weight, unit,\n"
    "                       stable, price, cost; a failed reading has result and error\n"
    "\n"
    "exit status:\n"
    "  0    done (of several readings, at least one arrived)\n"
    "  1    the scale or the driver failed: no reading, not opened, command refused\n"
    "  2    bad command line\n"
    "  3    the driver library could not be loaded\n"
    "  130  stopped by Ctrl-C (SIGINT), 143 by SIGTERM, 141 by a closed pipe (SIGPIPE),\n"
    "       after closing the device\n";

std::string Text(const CallResult& r, size_t i) { return i < r.params.size() ? r.params[i].Utf8() : std::string(); }

// Reads the weight `count` times (0: until a signal is caught); 0 when at
// least one reading succeeded. A scale that did not answer is asked again,
// up to `attempts` times.
int Weigh(Component& driver, const Options& o, const std::u16string& id, bool withPrice) {
    int good = 0;
    const std::string unit = WeightUnit(o);
    for (int i = 0; (o.count == 0 || i < o.count) && !Interrupted(); ++i) {
        if (i > 0 && o.interval > 0 && !SleepUnlessInterrupted(static_cast<unsigned>(o.interval))) break;
        CallResult r;
        int32_t code = 0;
        bool asked = false;
        for (int attempt = 0; attempt < o.attempts && !Interrupted(); ++attempt) {
            r = CallLogged(driver, o, u"GetWeightPriceCost", {Value::Text(id), Value(), Value(), Value(), Value()});
            asked = true;
            code = r.ok && r.ret.boolean ? 0 : driver.LastError();
            if (code != 3) break;
        }
        if (!asked) break;
        if (code == 0 && r.params.size() < 5) code = -1;  // a success without its out-parameters: not a reading
        const double weight = code == 0 ? r.params[1].number : 0, price = code == 0 ? r.params[2].number : 0,
                     cost = code == 0 ? r.params[3].number : 0;
        const bool stable = code == 0 && r.params[4].integer != 0;
        if (o.json) {
            json::Object reading;
            reading.Time().Int("result", code).Int("model", o.model);
            if (code == 0) {
                reading.Number("weight", weight).String("unit", unit).Bool("stable", stable);
                reading.Number("price", price).Number("cost", cost);
            } else {
                CallResult last = CallLogged(driver, o, u"GetLastError", {Value()});
                reading.String("error", last.params.empty() ? std::string() : last.params[0].Utf8());
            }
            std::printf("%s\n", reading.Text().c_str());
        } else if (code == 0) {
            std::printf("%s\n", FormatReading(weight, stable, price, cost, withPrice, unit.c_str()).c_str());
        } else {
            std::printf("no reading: %s\n", LastErrorText(driver, o).c_str());
        }
        if (code == 0) ++good;
        std::fflush(stdout);
    }
    return good > 0 ? kExitOk : kExitFailed;
}

int RunScaleCommand(const std::string& command, const Options& o) {
    std::string error;
    int32_t price = 0;
    if (command == "price") {
        if (!o.cents.empty()) {
            int value = 0;
            char* end = nullptr;
            long v = std::strtol(o.cents.c_str(), &end, 10);
            if (*end || end == o.cents.c_str() || v < INT32_MIN || v > INT32_MAX)
                return Fail("bad --cents " + o.cents, kExitUsage);
            value = static_cast<int>(v);
            price = value;
        } else if (o.price.empty() || !ParsePrice(o.price, price)) {
            return Fail(o.price.empty() ? "price needs --price X or --cents N" : "bad --price " + o.price,
                        kExitUsage);
        }
    }
    if (!(error = LineMissing(o)).empty()) return Fail(error, kExitUsage);
    // From here a signal only stops the work: a device being opened is
    // opened, then closed below, and the library unloaded.
    CatchInterrupts();
    std::unique_ptr<Component> driver = LoadDriver(o, error);
    if (!driver) return Fail(error, kExitNoLibrary);
    std::u16string id;
    if (!OpenDevice(*driver, o, id, error)) return Interrupted() ? InterruptedStatus() : Fail(error);

    int status = 0;
    if (Interrupted()) {
        // nothing sent to the scale
    } else if (command == "weigh") {
        status = Weigh(*driver, o, id, false);
    } else if (command == "price") {
        CallResult r = CallLogged(*driver, o, u"SetPrice", {Value::Text(id), Value::Int(price)});
        if (!r.ok || !r.ret.boolean) {
            status = Fail("price not accepted: " + LastErrorText(*driver, o));
        } else {
            std::fprintf(o.json ? stderr : stdout, "price %d.%02d sent\n", price / 100, price % 100);
            // An event-driven scale cannot be asked for its weight.
            status = IsEventModel(o.model) ? FinishEventCommand(*driver, o) : Weigh(*driver, o, id, true);
        }
    } else if (command == "tare") {
        CallResult r = CallLogged(*driver, o, u"Calibrate", {Value::Text(id), Value::Double(0.0)});
        if (r.ok && r.ret.boolean) {
            std::fprintf(o.json ? stderr : stdout, "tare done\n");
            if (IsEventModel(o.model)) status = FinishEventCommand(*driver, o);
        } else {
            status = Fail("tare failed: " + LastErrorText(*driver, o));
        }
    }
    CloseAndUnload(driver, o, id);
    if (Interrupted()) return InterruptedStatus();
    return status;
}

int RunDeviceTest(const Options& o) {
    std::string error;
    std::unique_ptr<Component> driver = LoadDriver(o, error);
    if (!driver) return Fail(error, kExitNoLibrary);
    if (!ApplyParameters(*driver, o, error)) return Fail(error);
    CallResult r = CallLogged(*driver, o, u"DeviceTest", {Value(), Value()});
    std::string text = Text(r, 0);
    std::printf("%s\n", text.c_str());
    return text.rfind("Вес: ", 0) == 0 ? 0 : 1;
}

// The model table compiled into the driver: number, kind, line, the unit of
// the weight delivered, the commands taken, what the reply's format checks,
// and the caption of the setup form.
// With --markdown, the same as the README's models reference.
int RunModels(bool markdown) {
    using namespace zel::devices;
    size_t count = 0;
    const ModelInfo* models = AllModels(&count);
    if (markdown) {
        std::printf("| model | caption | kind | line | weight unit | to kg | tare | zero | price | frame check |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    } else {
        std::printf("%-3s %-12s %-4s %-14s %-16s %-15s %s\n", "no", "kind", "line", "unit (to kg)", "commands",
                    "frame check", "caption");
    }
    for (size_t i = 0; i < count; ++i) {
        const ModelInfo& m = models[i];
        const bool reserved = m.kind == ModelKind::kReserved;
        const char* line = reserved || m.kind == ModelKind::kEmulator ? "-" : zel::LineName(m.line);
        if (markdown) {
            // Captions keep their own characters; a '|' would end the cell.
            std::string caption = m.caption;
            for (size_t at = caption.find('|'); at != std::string::npos; at = caption.find('|', at + 2))
                caption.replace(at, 1, "\\|");
            const std::string factor = reserved ? "-" : zelscales::detect::CoefficientText(m.toKilograms);
            std::printf("| %d | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", m.number, caption.c_str(),
                        KindName(m.kind), line, reserved ? "-" : m.unit, factor.c_str(), m.tare ? "yes" : "-",
                        m.zero ? "yes" : "-", m.price ? "yes" : "-", FrameCheckName(m.frameCheck));
            continue;
        }
        if (reserved) {
            std::printf("%-3d %-12s %-4s %-14s %-16s %-15s %s\n", m.number, "reserved", "-", "-", "-", "-", m.caption);
            continue;
        }
        std::string commands;
        if (m.tare) commands += "tare ";
        if (m.zero) commands += "zero ";
        if (m.price) commands += "price ";
        if (commands.empty()) commands = "-";
        char unit[64];
        std::snprintf(unit, sizeof unit, "%s (%s)", m.unit, zelscales::detect::CoefficientText(m.toKilograms).c_str());
        std::printf("%-3d %-12s %-4s %-14s %-16s %-15s %s%s\n", m.number, KindName(m.kind), line, unit,
                    commands.c_str(), FrameCheckName(m.frameCheck), m.caption, m.create ? "" : "  [not built]");
    }
    return 0;
}

int RunInfoCommand(const std::string& command, const Options& o) {
    std::string error;
    std::unique_ptr<Component> driver = LoadDriver(o, error);
    if (!driver) return Fail(error, kExitNoLibrary);
    if (command == "version") {
        CallResult version = CallLogged(*driver, o, u"GetVersion", {});
        CallResult d = CallLogged(*driver, o, u"GetDescription", std::vector<Value>(7));
        std::printf("%s %s\n%s\n%s\n", Text(d, 0).c_str(), version.ret.Utf8().c_str(), Text(d, 1).c_str(),
                    Text(d, 2).c_str());
        std::printf("library %s\n", driver->library().file().c_str());
        return version.ok ? 0 : 1;
    }
    CallResult r = CallLogged(*driver, o, u"GetParameters", {Value()});
    std::string xml = Text(r, 0);
    std::fwrite(xml.data(), 1, xml.size(), stdout);
    return r.ok && !xml.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // The command is the first word that is not an option or an option's value.
    static const char* const kWithValue[] = {"--library", "--model", "--port",  "--baud",   "--host", "--tcp-port",
                                             "--coeff",   "--count", "--interval", "--price", "--cents", "--attempts", "--bauds",
                                             "--root"};
    int commandAt = -1;
    for (int i = 1; i < argc && commandAt < 0; ++i) {
        bool takesValue = false;
        for (const char* name : kWithValue) takesValue = takesValue || std::strcmp(argv[i], name) == 0;
        if (takesValue) {
            ++i;
        } else if (argv[i][0] != '-') {
            commandAt = i;
        }
    }
    if (commandAt < 0) {
        bool help = false;
        for (int i = 1; i < argc; ++i) help = help || !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h");
        std::fputs(kUsage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    std::string command = argv[commandAt];

    // The command's own argument list: the command word first, then every
    // other argument in order.
    std::vector<char*> rest{argv[commandAt]};
    for (int i = 1; i < argc; ++i)
        if (i != commandAt) rest.push_back(argv[i]);
    int restCount = static_cast<int>(rest.size());
    rest.push_back(nullptr);

    if (command == "listen") return RunListen(restCount, rest.data());
    if (command == "detect") return RunDetect(restCount, rest.data());
    if (command == "ports") return RunPorts(restCount, rest.data());
#ifdef ZEL_HAVE_SIMULATE
    if (command == "simulate") return RunSimulate(restCount, rest.data());
#endif
    if (command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }

    Options options;
    std::string error;
    if (!ParseOptions(restCount, rest.data(), 1, options, error)) return Fail(error, kExitUsage);
    if (!options.positional.empty()) return Fail("unexpected argument " + options.positional[0], kExitUsage);

    if (command == "weigh" || command == "price" || command == "tare") return RunScaleCommand(command, options);
    if (command == "test") return RunDeviceTest(options);
    if (command == "models") return RunModels(options.markdown);
    if (command == "params" || command == "version") return RunInfoCommand(command, options);
    std::fprintf(stderr, "zelscales: unknown command %s\n\n%s", command.c_str(), kUsage);
    return 2;
}

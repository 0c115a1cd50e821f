// zelscales: the driver's whole job from a terminal, through the same host
// layer the tests use.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <cstring>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "devices/Settings.h"
#include "platform/sys.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/detect.h"
#include "tools/detect_plan.h"
#include "tools/identity.h"
#include "tools/json.h"
#include "tools/text.h"
#include "tools/listen.h"
#include "tools/ports.h"
#include "tools/trace.h"
#include "tools/traffic_log.h"
#include "tools/why.h"

using namespace zelscales;
using zel::host::CallResult;
using zel::host::Component;
using zel::host::Value;

namespace {

const zel::devices::ModelInfo& Row(int model) { return *zel::devices::FindModel(model); }

std::string Text(const CallResult& r, size_t i) { return i < r.params.size() ? r.params[i].Utf8() : std::string(); }

// Money as JSON: currency units rounded to their cents (the emulator's
// 275.84 is not 275.84000000000003), anything else as the driver gave it.
double MoneyValue(double value, zel::devices::Money money) {
    if (money == zel::devices::Money::kUnits) return std::round(value * 100.0) / 100.0;
    return value;
}

// "answered 3 of 4, median 120 ms and slowest 510 ms to a reading; results 0 x3, 3 x1"
std::string Summary(int asked, std::vector<double> ms, const std::map<int32_t, int>& codes) {
    std::string text = "answered " + std::to_string(ms.size()) + " of " + std::to_string(asked);
    if (!ms.empty()) {
        std::sort(ms.begin(), ms.end());
        const size_t n = ms.size();
        const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
        char buf[96];
        std::snprintf(buf, sizeof buf, ", median %.0f ms and slowest %.0f ms to a reading", median, ms.back());
        text += buf;
    }
    text += "; results";
    for (const auto& [code, count] : codes) text += " " + std::to_string(code) + " x" + std::to_string(count);
    return text;
}

// Reads the weight `count` times (0: until a signal is caught); 0 when at
// least one reading succeeded. A scale that did not answer is asked again,
// up to `attempts` times. Several readings end with a summary.
int Weigh(Component& driver, const Options& o, const std::u16string& id, bool withPrice) {
    int good = 0, asked = 0;
    std::vector<double> times;
    std::map<int32_t, int> codes;
    const std::string unit = WeightUnit(o);
    const zel::devices::ModelInfo& row = Row(o.model);
    if (o.coeff.empty() && row.toKilograms != 1.0 && row.kind != zel::devices::ModelKind::kReserved)
        std::fprintf(stderr, "hint: model %d delivers %s; --coeff %s gives kilograms\n", o.model,
                     row.unit[0] == 'g' ? "grams" : std::strcmp(row.unit, "mg") == 0 ? "milligrams" : row.unit,
                     zelscales::detect::CoefficientText(row.toKilograms).c_str());
    // The traffic log (of the private copy the tool runs, or beside the
    // user's library when log.txt is there) tells silence from bytes that
    // made no frame.
    TrafficTap traffic(driver.library().path());
    traffic.Follow(zel::host::ToUtf8(id));
    for (int i = 0; (o.count == 0 || i < o.count) && !Interrupted(); ++i) {
        if (i > 0 && o.interval > 0 && !SleepUnlessInterrupted(static_cast<unsigned>(o.interval))) break;
        traffic.Take();
        CallResult r;
        int32_t code = 0;
        bool called = false;
        const uint64_t began = platform::MonotonicMs();
        for (int attempt = 0; attempt < o.attempts && !Interrupted(); ++attempt) {
            r = CallLogged(driver, o, u"GetWeightPriceCost", {Value::Text(id), Value(), Value(), Value(), Value()});
            called = true;
            code = r.ok && r.ret.boolean ? 0 : driver.LastError();
            if (code != 3) break;
        }
        if (!called) break;
        ++asked;
        if (code == 0 && r.params.size() < 5) code = -1;  // a success without its out-parameters: not a reading
        ++codes[code];
        if (code == 0) times.push_back(static_cast<double>(platform::MonotonicMs() - began));
        const double weight = code == 0 ? r.params[1].number : 0, price = code == 0 ? r.params[2].number : 0,
                     cost = code == 0 ? r.params[3].number : 0;
        const bool stable = code == 0 && r.params[4].integer != 0;
        const std::string why = code == 0 ? std::string() : ExplainReading(o, code, traffic.Take().get());
        if (o.json) {
            json::Object reading;
            reading.Time().Int("result", code).Int("model", o.model);
            if (o.device >= 0) reading.Int("device", o.device);
            if (code == 0) {
                reading.Number("weight", weight).String("unit", unit);
                if (!o.coeff.empty()) reading.Number("coeff", CoefficientValue(o));
                if (row.reportsStable) reading.Bool("stable", stable);
                else reading.Null("stable");
                reading.Number("price", MoneyValue(price, row.money)).Number("cost", MoneyValue(cost, row.money));
                if (row.money == zel::devices::Money::kHundredths) {
                    // What the hundredths mean, in currency units.
                    reading.String("money", "hundredths");
                    reading.Number("priceAmount", std::round(price) / 100.0).Number("costAmount", std::round(cost) / 100.0);
                }
            } else {
                CallResult last = CallLogged(driver, o, u"GetLastError", {Value()});
                reading.String("error", last.params.empty() ? std::string() : last.params[0].Utf8());
                reading.String("why", why);
            }
            std::printf("%s\n", reading.Text().c_str());
        } else if (code == 0) {
            std::printf("%s\n", FormatReading(weight, stable, price, cost, withPrice, unit.c_str(), row.reportsStable,
                                              row.money).c_str());
        } else {
            std::printf("no reading: %s\n%s\n", why.c_str(), LastErrorText(driver, o).c_str());
        }
        if (code == 0) ++good;
        std::fflush(stdout);
    }
    if (o.count != 1 && asked > 0) {
        // With --json stdout holds the readings only.
        std::fprintf(o.json ? stderr : stdout, "%s\n", Summary(asked, times, codes).c_str());
        std::fflush(o.json ? stderr : stdout);
    }
    return good > 0 ? kExitOk : kExitFailed;
}

// --device N: the model, line and coefficient of the device numbered N in
// the settings.ini beside the library; what is wrong when there is none.
std::string DeviceFromSettings(Options& o) {
    const std::string library = o.library.empty() ? zel::host::DefaultLibraryPath() : o.library;
    const size_t slash = library.find_last_of("/\\");
    const std::string ini = (slash == std::string::npos ? std::string(".") : library.substr(0, slash)) +
                            platform::PathSeparator() + "settings.ini";
    if (!platform::FileExists(ini)) return "--device " + std::to_string(o.device) + ": no " + ini;
    for (int n = 0; n < 100; ++n) {
        DeviceSettings d;
        if (!ReadDeviceSettings(ini, n, &d)) break;
        if (d.num != o.device) continue;
        const zel::devices::ModelInfo* row = zel::devices::FindModel(d.type);
        if (!row || !zel::devices::IsBuilt(*row))
            return "--device " + std::to_string(o.device) + ": its model " + std::to_string(d.type) + " in " + ini +
                   " has no scale behind it";
        o.model = d.type;
        o.modelGiven = true;
        if (d.isComPort != 0) o.port = d.comPortName, o.baud = d.comBaudRate;
        else o.host = d.host, o.tcpPort = d.tcpPort;
        if (d.coeff != 1.0) {
            // A plain decimal, as --coeff takes it ("0.000001", never "1e-06").
            char text[64];
            std::snprintf(text, sizeof text, "%.9f", d.coeff);
            o.coeff = text;
            while (o.coeff.size() > 1 && o.coeff.back() == '0') o.coeff.pop_back();
            if (o.coeff.back() == '.') o.coeff.pop_back();
        }
        return std::string();
    }
    return "no device " + std::to_string(o.device) + " in " + ini + " (its sections [SCALESn] give fNum)";
}

int RunScaleCommand(const std::string& command, const Options& o) {
    std::string error;
    int32_t price = 0;
    if (command == "price") {
        if (o.centsGiven) {
            price = o.cents;
        } else if (o.price.empty() || !ParsePrice(o.price, price)) {
            return Fail(o.price.empty() ? "price needs --price X or --cents N" : "bad --price " + o.price,
                        kExitUsage);
        }
    }
    if (o.device < 0 && !(error = LineMissing(o)).empty()) return Fail(error, kExitUsage);
    // From here a signal only stops the work: a device being opened is
    // opened, then closed below, and the library unloaded.
    CatchInterrupts();
    std::unique_ptr<Component> driver = LoadDriver(o, error);
    if (!driver) return Fail(error, kExitNoLibrary);
    std::u16string id;
    if (o.device >= 0) {
        // The driver made the devices of settings.ini when it was loaded.
        id = zel::host::FromUtf8(std::to_string(o.device));
    } else if (!OpenDevice(*driver, o, id, error)) {
        return Interrupted() ? InterruptedStatus() : Fail(error);
    }

    int status = 0;
    if (Interrupted()) {
        // nothing sent to the scale
    } else if (command == "weigh") {
        status = Weigh(*driver, o, id, false);
    } else if (command == "price") {
        CallResult r = CallLogged(*driver, o, u"SetPrice", {Value::Text(id), Value::Int(price)});
        if (!r.ok || !r.ret.boolean) {
            status = Fail(FailedCommandText(o, "price not accepted", driver->LastError(), LastErrorText(*driver, o)));
        } else {
            const char* how = "";
            switch (zel::devices::DeliveryOf(o.model, zel::devices::Command::kPrice)) {
                case zel::devices::Delivery::kConfirmed: how = "sent"; break;
                case zel::devices::Delivery::kUnconfirmed: how = "sent (this scale does not confirm)"; break;
                case zel::devices::Delivery::kNotSent: how = "not sent: this scale takes no price"; break;
                case zel::devices::Delivery::kNotTaken: break;
            }
            std::fprintf(o.json ? stderr : stdout, "price %s %s\n", text::HundredthsText(price).c_str(), how);
            // An event-driven scale cannot be asked for its weight.
            status = IsEventModel(o.model) ? FinishEventCommand(*driver, o) : Weigh(*driver, o, id, true);
        }
    } else if (command == "tare") {
        TrafficTap traffic(driver->library().path());
        traffic.Follow(zel::host::ToUtf8(id));
        CallResult r = CallLogged(*driver, o, u"Calibrate", {Value::Text(id), Value::Double(0.0)});
        const std::unique_ptr<std::vector<TrafficBlock>> blocks = traffic.Take();
        if (blocks && (o.verbose || o.trace) && Row(o.model).frameCheck == zel::devices::FrameCheck::kCrc) {
            const std::string reply = ModbusReplyText(Received(*blocks));
            if (!reply.empty()) std::fprintf(stderr, "tare: the scale sent %s\n", reply.c_str());
        }
        const zel::devices::Delivery delivery = zel::devices::DeliveryOf(o.model, zel::devices::Command::kTare);
        const bool confirmed = delivery == zel::devices::Delivery::kConfirmed;
        if (r.ok && r.ret.boolean) {
            if (o.json) {
                json::Object done;
                done.Time().Int("result", 0).Int("model", o.model).String("command", "tare");
                done.String("delivery", zel::devices::DeliveryName(delivery));
                std::printf("%s\n", done.Text().c_str());
            } else {
                std::printf("%s\n", confirmed ? "tare done" : "sent (this scale does not confirm)");
            }
            std::fflush(stdout);
            if (IsEventModel(o.model)) status = FinishEventCommand(*driver, o);
        } else {
            const std::string text = LastErrorText(*driver, o);
            if (o.json) {
                CallResult last = CallLogged(*driver, o, u"GetLastError", {Value()});
                json::Object failed;
                failed.Time().Int("result", last.ret.integer).Int("model", o.model).String("command", "tare");
                failed.String("error", last.params.empty() ? std::string() : last.params[0].Utf8());
                std::printf("%s\n", failed.Text().c_str());
            }
            status = Fail(FailedCommandText(o, "tare failed", driver->LastError(), text, blocks.get(), "tare"));
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
    const bool passed = text.rfind("Вес: ", 0) == 0;
    if (o.json) {
        json::Object result;
        result.Time().Int("model", o.model).Bool("passed", passed).String("text", text);
        std::printf("%s\n", result.Text().c_str());
    } else {
        std::printf("%s\n", text.c_str());
    }
    return passed ? 0 : 1;
}

// The model table compiled into the driver: number, kind, line, the unit of
// the weight delivered, the commands taken, what the reply's format checks,
// and the caption of the setup form.
// With --markdown, the same as the README's models reference.
int RunModels(const Options& o) {
    using namespace zel::devices;
    const bool markdown = o.markdown;
    size_t count = 0;
    const ModelInfo* models = AllModels(&count);
    if (markdown) {
        std::printf("| model | caption | kind | line | weight unit | to kg | frame's unit | stable flag | price, cost | tare | zero | price | frame check |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    } else if (!o.json) {
        std::printf("%-3s %-12s %-4s %-14s %-16s %-15s %s\n", "no", "kind", "line", "unit (to kg)", "commands",
                    "frame check", "caption");
    }
    for (size_t i = 0; i < count; ++i) {
        const ModelInfo& m = models[i];
        const bool reserved = m.kind == ModelKind::kReserved;
        const char* line = reserved || m.kind == ModelKind::kEmulator ? "-" : zel::LineName(m.line);
        const Delivery tareDelivery = DeliveryOf(m.number, Command::kTare);
        const Delivery priceDelivery = DeliveryOf(m.number, Command::kPrice);
        // Zero only where a driver method sends it.
        const Delivery zeroDelivery = kZeroReached ? DeliveryOf(m.number, Command::kZero) : Delivery::kNotTaken;
        const char* tare = DeliveryName(tareDelivery);
        const char* zero = DeliveryName(zeroDelivery);
        const char* stableFlag = reserved ? "-" : m.reportsStable ? "yes" : "no";
        const char* unitRead = m.kind != ModelKind::kPolled ? "-" : m.unitRead ? "read" : "not carried";
        const char* price = DeliveryName(priceDelivery);
        if (o.json) {
            // A command the model does not take is null.
            auto command = [](Delivery d) { return d != Delivery::kNotTaken ? json::Value(DeliveryName(d)) : json::Value(); };
            json::Object row;
            row.Int("model", m.number).String("caption", m.caption).String("kind", KindName(m.kind));
            if (reserved) {
                row.Null("line").Null("unit").Null("toKilograms");
            } else {
                row.String("line", line).String("unit", m.unit).Number("toKilograms", m.toKilograms);
            }
            if (m.money == Money::kNone) row.Null("money");
            else row.String("money", MoneyName(m.money));
            if (reserved) row.Null("stableFlag");
            else row.Bool("stableFlag", m.reportsStable);
            if (m.kind != ModelKind::kPolled) row.Null("unitRead");
            else row.Bool("unitRead", m.unitRead);
            row.Set("tare", command(tareDelivery)).Set("zero", command(zeroDelivery));
            row.Set("price", command(priceDelivery));
            row.String("frameCheck", FrameCheckName(m.frameCheck)).Bool("built", zel::devices::IsBuilt(m));
            std::printf("%s\n", row.Text().c_str());
            continue;
        }
        if (markdown) {
            // Captions keep their own characters; a '|' would end the cell.
            std::string caption = m.caption;
            for (size_t at = caption.find('|'); at != std::string::npos; at = caption.find('|', at + 2))
                caption.replace(at, 1, "\\|");
            const std::string factor = reserved ? "-" : zelscales::detect::CoefficientText(m.toKilograms);
            std::printf("| %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", m.number, caption.c_str(),
                        KindName(m.kind), line, reserved ? "-" : m.unit, factor.c_str(), unitRead, stableFlag,
                        MoneyName(m.money), tare, zero, price, FrameCheckName(m.frameCheck));
            continue;
        }
        if (reserved) {
            std::printf("%-3d %-12s %-4s %-14s %-16s %-15s %s\n", m.number, "reserved", "-", "-", "-", "-", m.caption);
            continue;
        }
        std::string commands;
        if (tareDelivery != Delivery::kNotTaken) commands += "tare ";
        if (zeroDelivery != Delivery::kNotTaken) commands += "zero ";
        if (priceDelivery != Delivery::kNotTaken) commands += "price ";
        if (commands.empty()) commands = "-";
        char unit[64];
        std::snprintf(unit, sizeof unit, "%s (%s)", m.unit, zelscales::detect::CoefficientText(m.toKilograms).c_str());
        std::printf("%-3d %-12s %-4s %-14s %-16s %-15s %s%s\n", m.number, KindName(m.kind), line, unit,
                    commands.c_str(), FrameCheckName(m.frameCheck), m.caption, zel::devices::IsBuilt(m) ? "" : "  [not built]");
    }
    return 0;
}

// XML text with its five named entities decoded.
std::string Unescape(std::string text) {
    static const char* const kEntities[][2] = {{"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"},
                                               {"&amp;", "&"}};
    for (const auto& e : kEntities)
        for (size_t at = text.find(e[0]); at != std::string::npos; at = text.find(e[0], at + 1))
            text.replace(at, std::strlen(e[0]), e[1]);
    return text;
}

// The value of attribute `name` in a tag's text, empty when it has none.
std::string Attribute(const std::string& tag, const char* name) {
    const std::string key = std::string(" ") + name + "=\"";
    size_t at = tag.find(key);
    if (at == std::string::npos) return std::string();
    at += key.size();
    return Unescape(tag.substr(at, tag.find('"', at) - at));
}

// The parameter form as JSON lines: one object per parameter with its name,
// caption, type, default and, for a list, its choices.
std::vector<std::string> ParameterLines(const std::string& xml) {
    std::vector<std::string> lines;
    for (size_t at = xml.find("<Parameter "); at != std::string::npos; at = xml.find("<Parameter ", at + 1)) {
        const size_t tagEnd = xml.find('>', at);
        if (tagEnd == std::string::npos) break;
        const std::string tag = xml.substr(at, tagEnd - at);
        json::Object p;
        p.String("name", Attribute(tag, "Name")).String("caption", Attribute(tag, "Caption"));
        p.String("type", Attribute(tag, "TypeValue")).String("default", Attribute(tag, "DefaultValue"));
        if (xml[tagEnd - 1] != '/') {
            const size_t end = xml.find("</Parameter>", tagEnd);
            const std::string body = xml.substr(tagEnd, end == std::string::npos ? std::string::npos : end - tagEnd);
            json::Value choices = json::Value::array();
            for (size_t item = body.find("<Item "); item != std::string::npos; item = body.find("<Item ", item + 1)) {
                const size_t open = body.find('>', item), close = body.find("</Item>", item);
                if (open == std::string::npos || close == std::string::npos) break;
                json::Object choice;
                choice.String("value", Attribute(body.substr(item, open - item), "Value"));
                choice.String("caption", Unescape(body.substr(open + 1, close - open - 1)));
                choices.push_back(choice.value());
            }
            if (!choices.empty()) p.Set("choices", std::move(choices));
        }
        lines.push_back(p.Text());
    }
    return lines;
}

int RunInfoCommand(const std::string& command, const Options& o) {
    std::string error;
    std::unique_ptr<Component> driver = LoadDriver(o, error);
    if (!driver) return Fail(error, kExitNoLibrary);
    if (command == "version") {
        CallResult version = CallLogged(*driver, o, u"GetVersion", {});
        CallResult d = CallLogged(*driver, o, u"GetDescription", std::vector<Value>(7));
        if (o.json) {
            json::Object about;
            about.String("name", Text(d, 0)).String("version", version.ret.Utf8());
            about.String("description", Text(d, 1)).String("vendor", Text(d, 2));
            about.String("library", driver->library().file());
            std::printf("%s\n", about.Text().c_str());
            return version.ok ? 0 : 1;
        }
        std::printf("%s %s\n%s\n%s\n", Text(d, 0).c_str(), version.ret.Utf8().c_str(), Text(d, 1).c_str(),
                    Text(d, 2).c_str());
        std::printf("library %s\n", driver->library().file().c_str());
        return version.ok ? 0 : 1;
    }
    CallResult r = CallLogged(*driver, o, u"GetParameters", {Value()});
    std::string xml = Text(r, 0);
    if (o.json) {
        for (const std::string& line : ParameterLines(xml)) std::printf("%s\n", line.c_str());
    } else {
        std::fwrite(xml.data(), 1, xml.size(), stdout);
    }
    return r.ok && !xml.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    const int parsed = ParseCommandLine(argc, argv, line);
    if (parsed != kRunCommand) return parsed;
    const std::string& command = line.command;
    Options options = line.options;
    if (command == "weigh" || command == "price" || command == "tare" || command == "test") {
        std::string error;
        if (options.device >= 0 && !(error = DeviceFromSettings(options)).empty()) return Fail(error);
        if (options.trace && command != "test" && !(error = LineMissing(options)).empty())
            return Fail(error, kExitUsage);
        // Another build is refused under its own name, before a private copy is made.
        if (!CheckLibraryBuild(options, LibraryPath(options), error)) return Fail(error, kExitNoLibrary);
        TraceSession trace;
        if (options.trace) {
            CatchInterrupts();  // the private folder goes also on Ctrl-C
            if (!trace.Start(options, error)) return Fail(error, kExitNoLibrary);
        } else if (command != "test" && zel::devices::PolledProtocolOf(options.model) && !TrafficLogOn(options)) {
            // A private copy logs the traffic, so a failed reading can say
            // whether anything came; without one the tool says less.
            CatchInterrupts();
            if (!trace.Start(options, error, false)) error.clear();
        }
        const int status = command == "test" ? RunDeviceTest(options) : RunScaleCommand(command, options);
        trace.Stop();
        return Interrupted() ? InterruptedStatus() : status;
    }
    if (command == "models") return RunModels(options);
    if (command == "params" || command == "version") return RunInfoCommand(command, options);
    if (command == "listen") return RunListen(options);
    if (command == "detect") return RunDetect(options);
    if (command == "ports") return RunPorts(options);
    if (command == "decode") return RunDecode(options);
    if (command == "monitor") return RunMonitor(options);
#ifdef ZEL_HAVE_SIMULATE
    if (command == "simulate") return RunSimulate(line.simulate);
#endif
    return Fail("unknown command " + command, kExitUsage);  // defined in tools/cli.cpp, not run here
}

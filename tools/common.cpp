#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <iterator>

#include "tools/commands.h"
#include "tools/identity.h"
#include "tools/why.h"

#include "devices/ModelTable.h"
#include "core/ResultCodes.h"
#include "platform/sys.h"

using zel::host::CallResult;
using zel::host::Component;
using zel::host::Value;

namespace zelscales {

namespace {

// Set by the handler on whichever thread took the signal (a tracing thread
// gets the SIGPIPE of a closed stderr): a lock-free atomic, safe in a
// handler and between threads.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

extern "C" void OnSignal(int number) { g_signal.store(number, std::memory_order_relaxed); }

// The process's threads, where the system lets them be counted (Linux lists
// them under /proc); -1 elsewhere.
int CountThreads() {
    std::error_code error;
    std::filesystem::directory_iterator task("/proc/self/task", error);
    if (error) return -1;
    int threads = 0;
    for (; task != std::filesystem::directory_iterator(); task.increment(error)) ++threads;
    return threads;
}

// The count once the threads just joined are gone from the list too: the
// kernel may still list a thread for a moment after its join returned.
// Waits until the count has not fallen for 20 ms, at most 500 ms.
int SettledThreadCount() {
    int count = CountThreads();
    if (count < 0) return count;
    for (int waited = 0, steady = 0; waited < 500 && steady < 20; waited += 2) {
        platform::SleepMs(2);
        const int now = CountThreads();
        steady = now < count ? 0 : steady + 2;
        count = std::min(count, now);
    }
    return count;
}

// Before the library was loaded (a sanitizer's runtime may have its own).
int g_threadsBeforeLoading = -1;

}  // namespace

int Fail(const std::string& message, int status) {
    std::fprintf(stderr, "zelscales: %s\n", message.c_str());
    return status;
}

void CatchInterrupts() {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#ifdef SIGPIPE
    std::signal(SIGPIPE, OnSignal);
#endif
}

int Interrupted() { return g_signal; }

bool SleepUnlessInterrupted(unsigned ms) {
    const unsigned kStepMs = 50;
    const uint64_t end = platform::MonotonicMs() + ms;
    while (!g_signal) {
        const uint64_t now = platform::MonotonicMs();
        if (now >= end) return true;
        platform::SleepMs(static_cast<unsigned>(std::min<uint64_t>(kStepMs, end - now)));
    }
    return false;
}

int InterruptedStatus() { return 128 + static_cast<int>(g_signal); }

const int kSerialSpeeds[10] = {1200, 2400, 4800, 9600, 19200, 38400, 56000, 57600, 115200, 256000};

std::string CheckOptions(const Options& o) {
    if (!o.coeff.empty()) {
        const std::string fault = CheckCoefficient(o.coeff);
        if (!fault.empty()) return fault;
    }
    if (std::find(std::begin(kSerialSpeeds), std::end(kSerialSpeeds), o.baud) == std::end(kSerialSpeeds)) {
        std::string list;
        for (int speed : kSerialSpeeds) list += (list.empty() ? "" : ", ") + std::to_string(speed);
        return "bad --baud " + std::to_string(o.baud) + ": wants one of " + list;
    }
    if (o.tcpPort < 1 || o.tcpPort > 65535)
        return "bad --tcp-port " + std::to_string(o.tcpPort) + ": wants 1 to 65535";
    if (!o.port.empty() && !o.host.empty()) return "--port and --host exclude each other: a serial port or TCP";
    const zel::devices::ModelInfo* row = zel::devices::FindModel(o.model);
    if (!row) return "no model " + std::to_string(o.model) + "; see `zelscales models`";
    if (row->kind == zel::devices::ModelKind::kReserved || !zel::devices::IsBuilt(*row))
        return "model " + std::to_string(o.model) + " is reserved, no scale behind it; see `zelscales models`";
    return std::string();
}

namespace {

// A plain decimal: digits with at most one '.' or ',' among them.
bool PlainDecimal(const std::string& text) {
    bool digit = false, separator = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') digit = true;
        else if ((c == '.' || c == ',') && !separator) separator = true;
        else return false;
    }
    return digit;
}

// The coefficient as the driver reads the parameter's text: ',' as '.', a
// trailing separator dropped, then ParseNumberText.
double DriverCoefficient(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    if (!text.empty() && text.back() == '.') text.pop_back();
    return ParseNumberText(text.c_str());
}

}  // namespace

std::string CheckCoefficient(const std::string& text) {
    const std::string forms = "bad --coeff " + text +
                              ": wants a plain decimal above zero, '.' or ',' as its separator, e.g. 0.001, 1,02 "
                              "or 1000 (no sign, no exponent)";
    if (!PlainDecimal(text)) return forms;
    std::string copy = text;
    std::replace(copy.begin(), copy.end(), ',', '.');
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    // The driver reads at most 50 characters: a longer text, or one it would
    // round otherwise, is not the coefficient the tool would report.
    if (errno != 0 || *end != 0 || !std::isfinite(value) || value == 0.0 || DriverCoefficient(text) != value)
        return forms;
    return std::string();
}

double CoefficientValue(const Options& o) { return o.coeff.empty() ? 1.0 : DriverCoefficient(o.coeff); }

std::string LibraryPath(const Options& options) {
    return options.library.empty() ? zel::host::DefaultLibraryPath() : options.library;
}

std::unique_ptr<Component> LoadDriver(const Options& options, std::string& error) {
    const std::string path = LibraryPath(options);
    if (options.verbose) {
        // A runtime that starts a helper thread along with the program's
        // first one (ThreadSanitizer does) gets it now, before the count.
        std::thread([] {}).join();
        g_threadsBeforeLoading = SettledThreadCount();
    }
    // Checked before it is loaded, so that another build's start-up code
    // does not run in the tool.
    bool checked = false;
    if (!AcceptLibrary(options, path, false, checked, error)) return nullptr;
    std::unique_ptr<Component> driver;
    try {
        if (options.verbose) std::fprintf(stderr, "library %s\n", path.c_str());
        driver.reset(new Component(path));
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
    // The system may have loaded another file than the one checked (a bare
    // name is looked for on its search path): that one must pass too, and
    // one that cannot be read carries no identity the tool can see.
    const std::string& loaded = driver->library().file();
    if ((!checked || !SameFile(loaded, path)) && !AcceptLibrary(options, loaded, true, checked, error))
        return nullptr;
    return driver;
}

CallResult CallLogged(Component& driver, const Options& options, const std::u16string& method,
                      const std::vector<Value>& args) {
    CallResult r = driver.Call(method, args);
    if (options.verbose) {
        std::string line = "> " + zel::host::ToUtf8(method) + "(";
        for (size_t i = 0; i < args.size(); ++i) line += (i ? ", " : "") + args[i].Describe();
        line += ") -> " + std::string(r.ok ? "ok" : "FAILED") + ", ret " + r.ret.Describe();
        for (size_t i = 0; i < r.params.size(); ++i)
            if (r.params[i].type != args[i].type || r.params[i].text != args[i].text)
                line += ", [" + std::to_string(i) + "] " + r.params[i].Describe();
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    return r;
}

std::string LastErrorText(Component& driver, const Options& options) {
    CallResult r = CallLogged(driver, options, u"GetLastError", {Value()});
    return "result " + std::to_string(r.ret.integer) + ": " + (r.params.empty() ? "" : r.params[0].Utf8());
}

bool ApplyParameters(Component& driver, const Options& o, std::string& error) {
    struct Setting {
        const char16_t* name;
        Value value;
    };
    std::vector<Setting> settings = {
        {u"model", Value::Int(o.model)},
        {u"conntype", Value::Int(o.host.empty() ? 0 : 1)},
        {u"conleave", Value::Bool(o.leave)},
        {u"cport", Value::Text(zel::host::FromUtf8(o.port))},
        {u"cbaudrate", Value::Int(o.baud)},
        {u"ehost", Value::Text(zel::host::FromUtf8(o.host))},
        {u"eport", Value::Int(o.tcpPort)},
    };
    if (!o.coeff.empty()) settings.push_back({u"coeff", Value::Text(zel::host::FromUtf8(o.coeff))});
    for (const Setting& s : settings) {
        if (!CallLogged(driver, o, u"SetParameter", {Value::Text(s.name), s.value}).ok) {
            error = "the driver refused the parameter " + zel::host::ToUtf8(s.name);
            return false;
        }
    }
    return true;
}

void CloseAndUnload(std::unique_ptr<Component>& driver, const Options& options, const std::u16string& id) {
    CallLogged(*driver, options, u"Close", {Value::Text(id)});
    driver.reset();
    if (!options.verbose || g_threadsBeforeLoading < 0) return;
    const int threads = SettledThreadCount();
    if (threads >= 0)
        std::fprintf(stderr, "driver threads left: %d\n", threads - g_threadsBeforeLoading);
}

std::string LineMissing(const Options& options) {
    if (options.model != 20 && options.port.empty() && options.host.empty())
        return "model " + std::to_string(options.model) + " needs --port NAME or --host H";
    return std::string();
}

bool OpenDevice(Component& driver, const Options& options, std::u16string& id, std::string& error) {
    if (!(error = LineMissing(options)).empty()) return false;
    if (!ApplyParameters(driver, options, error)) return false;
    CallResult r = CallLogged(driver, options, u"Open", {Value()});
    id = r.params.empty() ? std::u16string() : r.params[0].text;
    CallResult last = CallLogged(driver, options, u"GetLastError", {Value()});
    if (!r.ok || last.ret.integer != 0) {
        error = OpenFailureText(options, "result " + std::to_string(last.ret.integer) + ": " +
                                             (last.params.empty() ? "" : last.params[0].Utf8()));
        return false;
    }
    if (options.verbose) std::fprintf(stderr, "device %s\n", zel::host::ToUtf8(id).c_str());
    return true;
}

bool ParsePrice(const std::string& text, int32_t& hundredths) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long whole = 0, fraction = 0;
    int fractionDigits = 0;
    bool digits = false, separator = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (!separator) {
                whole = whole * 10 + (c - '0');
                if (whole > 100000000) return false;
            } else if (fractionDigits < 3) {
                fraction = fraction * 10 + (c - '0');
                ++fractionDigits;
            }
        } else if ((c == '.' || c == ',') && !separator) {
            separator = true;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    while (fractionDigits < 3) fraction *= 10, ++fractionDigits;
    long long value = whole * 100 + (fraction + 5) / 10;  // thousandths rounded to hundredths
    if (value > INT32_MAX) return false;
    hundredths = static_cast<int32_t>(negative ? -value : value);
    return true;
}

std::string MoneyText(double value, zel::devices::Money money) {
    char buf[96];
    using zel::devices::Money;
    if (money == Money::kHundredths)
        std::snprintf(buf, sizeof buf, "%.0f hundredths (%.2f)", value, value / 100.0);
    else if (money == Money::kAsSent)
        std::snprintf(buf, sizeof buf, "%.0f (as the scale sends)", value);
    else
        std::snprintf(buf, sizeof buf, "%.2f", value);
    return buf;
}

std::string FormatReading(double weight, bool stable, double price, double cost, bool withPrice, const char* unit,
                          bool reportsStable, zel::devices::Money money) {
    char buf[200];
    std::snprintf(buf, sizeof(buf), "weight %.3f %s", weight, unit);
    std::string text = buf;
    if (reportsStable) text += stable ? "  stable" : "  unstable";
    if (withPrice) text += "  price " + MoneyText(price, money) + "  cost " + MoneyText(cost, money);
    return text;
}

std::string WeightUnit(const Options& options) {
    const zel::devices::ModelInfo* row = zel::devices::FindModel(options.model);
    std::string unit = row && row->unit[0] ? row->unit : "kg";
    if (options.coeff.empty()) return unit;
    // The coefficient that turns grams or milligrams into kilograms (or
    // milligrams into grams) gives that unit; any other marks the weight.
    const double c = CoefficientValue(options);
    if (c == 1.0) return unit;
    if (row && row->toKilograms > 0 && c == row->toKilograms) return "kg";
    if (unit == "mg" && c == 0.001) return "g";
    return "(" + unit + " x " + options.coeff + ")";
}

}  // namespace zelscales

#include "tools/cli.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdio>
#include <functional>
#include <set>

#include "devices/ModelTable.h"
#include "tools/detect.h"
#include "tools/text.h"

namespace zelscales {

namespace {

const char kUsage[] =
    "usage: zelscales [--library PATH] [--verbose] [--trace] COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  weigh     read the weight (--count N, 0 = until Ctrl-C; --interval MS, --attempts N)\n"
    "  price     send a unit price (--price 12.50 or --cents 1250), then weigh\n"
    "  tare      send the tare command (says when the scale does not confirm it)\n"
    "  test      run the driver's device test\n"
    "  params    print the parameter form (XML)\n"
    "  models    list the scale models (--markdown: as a Markdown table)\n"
    "  version   print the driver's version and description, and the library file loaded\n"
    "  listen    print the readings an event-driven scale pushes\n"
    "  detect    find the model and speed of the scale on a line (--bauds B,B,...)\n"
    "  decode    print a traffic log block by block: time, direction, bytes, text; with --model N each\n            exchange judged by that model's checks and decoders (--json)\n"
    "  monitor   watch a line: every chunk of bytes with its time, hex and text; --send bytes,\n"
    "            --every MS; with --model N each frame judged by that model (--json)\n"
    "  ports     list the serial ports, free or busy, with their USB details (--json)\n"
#ifdef ZEL_HAVE_SIMULATE
    "  simulate  run a simulated scale on a pseudo-terminal or TCP port\n"
#endif
    "\n"
    "library:\n"
    "  --library PATH       the driver library to load (default: the one beside zelscales)\n"
    "  --force              load it even when it is not the build this zelscales was made\n"
    "                       with (another version, or no build identity): the tool then\n"
    "                       tells models, units and commands from its own table while the\n"
    "                       library weighs by its own, and the two may differ\n"
    "\n"
    "scale options (default: the built-in emulator, model 20):\n"
    "  --model M            model number (see `zelscales models`); a scale on --port or\n"
    "                       --host needs it (`zelscales detect` finds it)\n"
    "  --port NAME          serial port, e.g. /dev/ttyUSB0 or COM3\n"
    "  --baud B             serial speed, one of the setup form's (default 4800)\n"
    "  --host H             scale on TCP instead of a serial port\n"
    "  --tcp-port P         TCP port, 1 to 65535 (default 20108)\n"
    "  --coeff X            weight coefficient: a plain decimal above zero, '.' or ','\n"
    "                       as its separator (default 1.000); 0.001 on a grams model,\n"
    "                       0.000001 on a milligrams one, gives kilograms\n"
    "  --leave              keep the line open between requests\n"
    "\n"
    "output:\n"
    "  --json               weigh, price and listen print one JSON object per reading\n"
    "                       or event, one a line, and nothing else on stdout:\n"
    "                       time (UTC), result (0 = a reading), model, weight, unit,\n"
    "                       stable, price, cost; a failed reading has result and error;\n"
    "                       tare, test, params, models and version print JSON lines too\n"
    "  --trace              weigh, price, tare, test, detect and listen: every byte on the\n"
    "                       scale's line on stderr, with the speed and framing in effect\n"
    "\n"
    "`zelscales COMMAND --help` prints that command's usage.\n"
    "\n"
    "exit status:\n"
    "  0    done (of several readings, at least one arrived)\n"
    "  1    the scale or the driver failed: no reading, not opened, command refused\n"
    "  2    bad command line\n"
    "  3    the driver library could not be loaded, or is another build than this zelscales's\n"
    "       (see --force)\n"
    "  130  stopped by Ctrl-C (SIGINT), 143 by SIGTERM, 141 by a closed pipe (SIGPIPE),\n"
    "       after closing the device\n";

const char kScaleOptions[] =
    "scale options:\n"
    "  --model M  --port NAME [--baud B] | --host H [--tcp-port P]  --coeff X  --leave\n";

// The usage of a command that reaches a scale: its own lines, then the scale options.
std::string WithScaleOptions(const char* text) { return std::string(text) + kScaleOptions; }

// --help: the command's usage on stdout, whatever else the line holds.
struct HelpAsked {
    std::string usage;
};

// A bad value, told as "zelscales: <message>".
CLI::ValidationError Bad(const std::string& message) { return CLI::ValidationError(message); }

// CLI11 reads an integer's text with base prefixes ("010" as eight, "0x10"
// as sixteen): this passes decimal text only, within [low, high], and hands
// it on in its plain form.
CLI::Validator Decimal(long long low, long long high, const std::string& unit) {
    return CLI::Validator(
        [low, high, unit](std::string& value) {
            long long n = 0;
            if (!text::ParseInteger(value, low, high, n))
                return "wants a whole number of " + unit + " from " + std::to_string(low) + " to " +
                       std::to_string(high) + ", not " + value;
            value = std::to_string(n);
            return std::string();
        },
        "INT");
}

// The options of one command, added in the order its usage lists them.
class Definer {
public:
    Definer(CLI::App* app, Options& o) : app_(app), o_(o) {}

    // A decimal integer within [low, high].
    Definer& Int(const std::string& name, int& target, long long low = INT_MIN, long long high = INT_MAX) {
        app_->add_option_function<std::string>(name, [name, &target, low, high](const std::string& text) {
            if (!text::ParseInteger(text, low, high, target)) throw Bad("bad value for " + name + ": " + text);
        });
        return *this;
    }
    Definer& Text(const std::string& name, std::string& target) {
        app_->add_option(name, target);
        return *this;
    }
    // Any other value, read by `read` (which throws Bad for a wrong one).
    Definer& Value(const std::string& name, std::function<void(const std::string&)> read) {
        app_->add_option_function<std::string>(name, std::move(read));
        return *this;
    }
    Definer& Flag(const std::string& name, bool& target) {
        app_->add_flag(name, target);
        return *this;
    }
    // Two options of which at most one may be given.
    Definer& Exclusive(const std::string& a, const std::string& b) {
        app_->get_option(a)->excludes(app_->get_option(b));
        return *this;
    }

    // Where the scale is: a serial port or TCP.
    Definer& Line() { return Text("--port", o_.port).Text("--host", o_.host).Int("--tcp-port", o_.tcpPort); }
    Definer& Scale() {
        Options& o = o_;
        Value("--model", [&o](const std::string& text) {
            if (!text::ParseInteger(text, INT_MIN, INT_MAX, o.model)) throw Bad("bad value for --model: " + text);
            o.modelGiven = true;
        });
        Line().Int("--baud", o_.baud).Text("--coeff", o_.coeff);
        return Flag("--leave", o_.leave);
    }
    Definer& Readings() {
        Int("--count", o_.count, 0, 1000000).Int("--interval", o_.interval, 0, 3600000);
        return Int("--attempts", o_.attempts, 1, 100);
    }
    // --cents is an int32 of CLI11's, its text checked and made plain decimal first.
    Definer& Price() {
        Options& o = o_;
        Text("--price", o_.price);
        app_->add_option_function<int32_t>("--cents", [&o](const int32_t& cents) {
                 o.cents = cents;
                 o.centsGiven = true;
             })
            ->transform(Decimal(INT32_MIN, INT32_MAX, "hundredths"));
        return Exclusive("--price", "--cents");
    }
    Definer& Json() { return Flag("--json", o_.json); }
    Definer& Trace() { return Flag("--trace", o_.trace); }

private:
    CLI::App* app_;
    Options& o_;
};

class Parser {
public:
    explicit Parser(CommandLine& line) : line_(line) {
        Options& o = line.options;
        app_.set_help_flag();
        app_.allow_extras();  // unknown words are told below, in the tool's words
        app_.require_subcommand(0, 1);
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        Help(&app_, kUsage);
        app_.add_flag("-v,--verbose", o.verbose);
        app_.add_flag("--trace", topTrace_);
        app_.add_option("--library", o.library);
        app_.add_flag("--force", o.force);

        // The commands. `checked`: the scale options' values are checked before the run.
        Command("weigh", WithScaleOptions(
            "usage: zelscales weigh [scale options] [--count N] [--interval MS] [--attempts N] [--json] [--trace]\n"
            "       zelscales weigh --device N [--count N] ...\n"
            "Reads the weight N times (0: until Ctrl-C); several readings end with a summary.\n"
            "--device N weighs the device numbered N (its fNum) in the settings.ini beside the library.\n"), true)
            .Scale().Readings().Json().Trace().Int("--device", o.device, 0, 99);
        Command("price", WithScaleOptions(
            "usage: zelscales price (--price X | --cents N) [scale options] [--count N] [--json] [--trace]\n"
            "Sends a unit price, then weighs.\n"), true).Price().Scale().Readings().Json().Trace();
        Command("tare", WithScaleOptions(
            "usage: zelscales tare [scale options] [--json] [--trace]\n"
            "Sends the tare command; says whether the scale confirmed it.\n"), true).Scale().Json().Trace();
        Command("test", WithScaleOptions(
            "usage: zelscales test [scale options] [--json] [--trace]\n"
            "Runs the driver's device test.\n"), true).Scale().Json().Trace();
        Command("params", "usage: zelscales params [--json]\n"
                          "Prints the parameter form (XML; --json: one object per parameter).\n").Json();
        Command("models", "usage: zelscales models [--markdown | --json]\n"
                          "Lists the scale models: kind, line, unit, commands and whether the scale confirms them.\n")
            .Flag("--markdown", o.markdown).Json().Exclusive("--markdown", "--json");
        Command("version", "usage: zelscales version [--json]\n"
                           "Prints the driver's version and description, and the library file loaded.\n").Json();
        CLI::App* listen = nullptr;
        Command("listen", ListenUsage(), true, &listen)
            .Scale().Int("--count", o.count, 0, 1000000).Price().Flag("--tare", o.tare).Json().Trace();
        listen->preparse_callback([&o](size_t) {
            o.model = 5;
            o.count = 0;  // until Ctrl-C
        });
        Command("detect", DetectUsage())
            .Line()
            .Value("--bauds", [&o](const std::string& text) {
                if (!detect::ParseBauds(text, o.bauds)) {
                    std::string list;
                    for (int speed : kSerialSpeeds) list += (list.empty() ? "" : ",") + std::to_string(speed);
                    throw Bad("bad --bauds " + text + ": wants speeds of " + list + " (e.g. 9600,4800)");
                }
            })
            .Json()
            .Trace();
        Definer ports = Command("ports", PortsUsage());
        ports.Json();
#ifndef _WIN32
        ports.Text("--root", o.root);
#endif
        CLI::App* decode = nullptr;
        Command("decode", DecodeUsage(), false, &decode).Json().Value("--model", [&o](const std::string& text) {
            using zel::devices::ModelKind;
            const zel::devices::ModelInfo* row = nullptr;
            int n = -1;
            if (text::ParseInteger(text, 0, 1000, n)) row = zel::devices::FindModel(n);
            if (!row || (row->kind != ModelKind::kPolled && row->kind != ModelKind::kListener))
                throw Bad("decode --model takes the number of a model with a line (see `zelscales models`)");
            o.model = n;
        });
        decode->add_option("log", o.log);
        decode->preparse_callback([&o](size_t) { o.model = -1; });
        CLI::App* monitor = nullptr;
        Command("monitor", MonitorUsage(), false, &monitor)
            .Line()
            .Int("--baud", o.baud, 50, 4000000)
            .Text("--framing", o.framing)
            .Int("--every", o.every, 1, 3600000)
            .Int("--pause", o.pause, 0, 60000)
            .Int("--for", o.forMs, 1, INT_MAX)
            .Int("--count", o.count, 1, 1000000)
            .Int("--quiet", o.quiet, 0, 60000)
            .Value("--model", [&o](const std::string& text) {
                using zel::devices::ModelKind;
                const zel::devices::ModelInfo* row = nullptr;
                int n = -1;
                if (text::ParseInteger(text, 0, 1000, n)) row = zel::devices::FindModel(n);
                if (!row || (row->kind != ModelKind::kPolled && row->kind != ModelKind::kListener))
                    throw Bad("monitor --model takes the number of a model with a line (see `zelscales models`)");
                o.model = n;
            })
            .Json()
            .Trace();
        monitor->add_option("--send", o.sends)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        monitor->preparse_callback([&o](size_t) {
            o.model = -1;
            o.count = 0;
        });
        // `help COMMAND`: that command's usage.
        Command("help", kUsage).Text("command", helpFor_);
#ifdef ZEL_HAVE_SIMULATE
        DefineSimulate();
#endif
    }

    int Parse(int argc, const char* const* argv) {
        try {
            app_.parse(argc, argv);
        } catch (const HelpAsked& help) {
            std::fputs(help.usage.c_str(), stdout);
            return kExitOk;
        } catch (const CLI::ParseError& e) {
            return Fail(Message(e), kExitUsage);
        }
        std::vector<std::string> extra = app_.remaining(true);
        if (app_.get_subcommands().empty()) {
            if (extra.empty()) {
                std::fputs(kUsage, stderr);
                return kExitUsage;
            }
            if (extra[0].size() > 1 && extra[0][0] == '-') return Fail("unknown option " + extra[0], kExitUsage);
            return Fail("unknown command " + extra[0] + "; see `zelscales --help`", kExitUsage);
        }
        line_.command = app_.get_subcommands()[0]->get_name();
        if (!extra.empty()) {
            if (extra[0].size() > 1 && extra[0][0] == '-') return Fail("unknown option " + extra[0], kExitUsage);
            if (line_.command == "decode") return Fail("decode reads one log file only", kExitUsage);
            return Fail("unexpected argument " + extra[0], kExitUsage);
        }
        if (line_.command == "help") {
            if (helpFor_.empty()) {
                std::fputs(kUsage, stdout);
                return kExitOk;
            }
            for (const auto& [name, usage] : usages_) {
                if (name != helpFor_) continue;
                std::fputs(usage.c_str(), stdout);
                return kExitOk;
            }
            return Fail("unknown command " + helpFor_ + "; see `zelscales --help`", kExitUsage);
        }
        if (line_.command == "decode" && line_.options.log.empty())
            return Fail("decode needs a traffic log: zelscales decode LOG [--model N] [--json]", kExitUsage);
#ifdef ZEL_HAVE_SIMULATE
        const SimulateOptions& s = line_.simulate;
        if (line_.command == "simulate" && (s.model < 0 || s.pty == (s.tcpPort >= 0)))
            return Fail("simulate needs --model N and one of --pty or --tcp PORT", kExitUsage);
#endif
        static const std::set<std::string> kTraced = {"weigh", "price", "tare", "test", "detect", "listen"};
        if (topTrace_) {
            // Given before the command, or after one that does not take it.
            if (!kTraced.count(line_.command))
                return Fail("--trace is for weigh, price, tare, test, detect and listen", kExitUsage);
            line_.options.trace = true;
        }
        std::string error;
        static const std::set<std::string> kModelled = {"weigh", "price", "tare", "test"};
        const Options& given = line_.options;
        if (kModelled.count(line_.command) && given.device < 0 && !given.modelGiven &&
            (!given.port.empty() || !given.host.empty()))
            return Fail(std::string(given.port.empty() ? "--host" : "--port") +
                            " needs --model M, the scale's model (`zelscales detect` finds it; "
                            "`zelscales models` lists them)",
                        kExitUsage);
        if (given.device >= 0 && (given.modelGiven || !given.port.empty() || !given.host.empty() ||
                                  !given.coeff.empty()))
            return Fail("--device N takes its model, line and coefficient from settings.ini; "
                        "give none of --model, --port, --host, --coeff",
                        kExitUsage);
        if (checked_.count(line_.command) && !(error = CheckOptions(line_.options)).empty())
            return Fail(error, kExitUsage);
        return kRunCommand;
    }

private:
    // A command: its usage for --help, the common options falling through to
    // the tool's own.
    Definer Command(const std::string& name, const std::string& usage, bool checked = false,
                    CLI::App** app = nullptr) {
        CLI::App* sub = app_.add_subcommand(name);
        sub->fallthrough();
        sub->allow_extras();
        sub->set_help_flag();
        Help(sub, usage);
        usages_.emplace_back(name, usage);
        if (checked) checked_.insert(name);
        if (app) *app = sub;
        return Definer(sub, line_.options);
    }

    // -h, --help wins as soon as it is seen: later faults of the line do not hide the usage.
    static void Help(CLI::App* app, const std::string& usage) {
        app->add_flag_callback("-h,--help", [usage] { throw HelpAsked{usage}; })->trigger_on_parse();
    }

    // CLI11's faults in the tool's words; the tool's own as they were thrown.
    static std::string Message(const CLI::ParseError& e) {
        const std::string what = e.what();
        const size_t colon = what.find(':');
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && colon != std::string::npos &&
            what.find(" missing", colon) != std::string::npos)
            return what.substr(0, colon) + " needs a value";  // "--count: 1 required TEXT missing"
        if (dynamic_cast<const CLI::ExcludesError*>(&e)) {
            // "--price excludes --cents"
            const size_t space = what.find(' ');
            return what.substr(0, space) + " and" + what.substr(what.rfind(' ')) + " exclude each other";
        }
        return what;
    }

#ifdef ZEL_HAVE_SIMULATE
    void DefineSimulate() {
        SimulateOptions& s = line_.simulate;
        Definer d = Command("simulate", SimulateUsage());
        auto number = [](const std::string& name, double& target, bool* given = nullptr) {
            return [name, &target, given](const std::string& text) {
                if (!ParseSimulatedNumber(text, &target)) throw Bad("bad value for " + name + ": " + text);
                if (given) *given = true;
            };
        };
        d.Value("--model", [&s](const std::string& text) {
             if (!text::ParseInteger(text, 0, 1000, s.model) || !sim::ModelSupported(s.model))
                 throw Bad("no simulated model " + text + "; see `zelscales simulate --help`");
         })
            .Flag("--pty", s.pty)
            .Text("--link", s.link)
            .Int("--tcp", s.tcpPort, 0, 65535)
            .Value("--weight", number("--weight", s.weight))
            .Flag("--unstable", s.unstable)
            .Flag("--overload", s.overload)
            .Value("--price", number("--price", s.price, &s.havePrice))
            .Value("--cost", number("--cost", s.cost, &s.haveCost))
            .Value("--tare", number("--tare", s.tare))
            .Int("--decimals", s.decimals, 0, 4)
            .Flag("--negative", s.negative)
            .Value("--text", [&s](const std::string& text) {
                s.text = text;
                s.haveText = true;
            })
            .Value("--fault", [&s](const std::string& text) {
                if (!ParseSimulatedFault(text, &s.fault, &s.faultParam)) throw Bad("bad value for --fault: " + text);
            })
            .Int("--push-every", s.pushEvery, 0, 3600000)
            .Int("--pace", s.pace, 0, 4000000)
            .Int("--gap", s.gap, 0, 3600000)
            .Flag("--ack-first-byte", s.ackFirstByte)
            .Flag("--close-after-reply", s.closeAfterReply)
            .Flag("--no-stdin", s.noStdin);
    }
#endif

    CommandLine& line_;
    CLI::App app_{"zelscales"};
    std::vector<std::pair<std::string, std::string>> usages_;  // command, its usage
    std::set<std::string> checked_;
    std::string helpFor_;
    bool topTrace_ = false;
};

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, CommandLine& line) {
    Parser parser(line);
    return parser.Parse(argc, argv);
}

}  // namespace zelscales

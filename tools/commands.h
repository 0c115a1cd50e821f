// Pieces of the zelscales command-line tool shared by its commands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "host/Component.h"

namespace zelscales {

// The tool's exit statuses, for scripts. A run ended by SIGINT or SIGTERM
// (after closing the device) exits with 128 + the signal's number.
enum ExitStatus {
    kExitOk = 0,         // done; for several readings, at least one arrived
    kExitFailed = 1,     // the scale or the driver failed: no reading, not opened, command refused
    kExitUsage = 2,      // bad command line
    kExitNoLibrary = 3,  // the driver library could not be loaded
};

// Prints "zelscales: message" to stderr and returns `status`.
int Fail(const std::string& message, int status = kExitFailed);

// From here on SIGINT and SIGTERM (and SIGPIPE, where there is one: the
// reader of a pipe went away) only note the signal, so that the command can
// close the device and unload the library before it ends.
void CatchInterrupts();
// The signal caught, 0 when none was.
int Interrupted();
// Sleeps `ms`, waking early on a caught signal; false when one was caught.
bool SleepUnlessInterrupted(unsigned ms);
// The exit status for a run that ended on the caught signal.
int InterruptedStatus();

struct Options {
    std::string library;     // --library PATH (default: zel::host::DefaultLibraryPath())
    bool verbose = false;    // --verbose: echo every driver call to stderr
    bool force = false;      // --force: load a library of another build
    int model = 20;          // --model M (default: the emulator)
    bool modelGiven = false; // --model was on the command line
    int device = -1;         // --device N (weigh: the device of settings.ini numbered N)
    std::string port;        // --port NAME (COM port)
    int baud = 4800;         // --baud B
    std::string host;        // --host H (selects TCP)
    int tcpPort = 20108;     // --tcp-port P
    std::string coeff;       // --coeff X (weight coefficient, as text)
    bool leave = false;      // --leave: keep the line open between requests
    int count = 1;           // --count N (readings or events; 0 = until interrupted)
    int interval = 500;      // --interval MS between readings
    int attempts = 3;        // --attempts N per reading when the scale does not answer
    std::string price;       // --price X (currency units, e.g. 12.50)
    int32_t cents = 0;       // --cents N (price in hundredths)
    bool centsGiven = false; // --cents was on the command line
    bool markdown = false;   // --markdown (models)
    bool json = false;       // --json: one JSON object per reading or event on stdout
    bool trace = false;      // --trace (weigh, price, tare, test, detect, listen)
    bool tare = false;       // --tare (listen: send the tare command once the scale is open)
    std::vector<int> bauds;  // --bauds B,B,... (detect; empty: its default order)
    std::string root;        // --root DIR (ports: sys/ and dev/ under DIR)
    std::string log;         // LOG (decode: the traffic log)
    // monitor
    std::string framing;             // --framing 8N1 (empty: 8N1, or the model's)
    std::vector<std::string> sends;  // --send BYTES, in order
    int every = 0;                   // --every MS (0: the sends go once)
    int pause = 150;                 // --pause MS between the --send values of a round
    int forMs = 0;                   // --for MS (0: no time limit)
    int quiet = -1;                  // --quiet MS that ends a chunk (-1: from the speed)
};

// The commands of their own files, on the options tools/cli.cpp parsed.
int RunListen(const Options& options);
int RunDetect(const Options& options);
int RunPorts(const Options& options);
int RunDecode(const Options& options);  // options.model -1: no model's judgement
int RunMonitor(const Options& options);  // options.model -1: no model's judgement

// The usage those commands print for --help.
const char* ListenUsage();
const char* DetectUsage();
const char* PortsUsage();
const char* DecodeUsage();
const char* MonitorUsage();

// The serial speeds the setup form offers.
extern const int kSerialSpeeds[10];
// What is wrong with the options' values, checked before anything is
// opened ("bad --coeff abc: wants a non-zero number"); empty when nothing.
std::string CheckOptions(const Options& options);

// The library the options name: --library, else the default.
std::string LibraryPath(const Options& options);

// Loads the library named by the options. A library of another build than
// the tool's (tools/identity.h) is refused before it is loaded, or, with
// --force, loaded after a warning on stderr.
std::unique_ptr<zel::host::Component> LoadDriver(const Options& options, std::string& error);

// Hands the connection parameters to the driver (model, line, coefficient).
bool ApplyParameters(zel::host::Component& driver, const Options& options, std::string& error);

// What the command line lacks to reach the scale ("model 13 needs --port
// NAME or --host H"), empty when nothing.
std::string LineMissing(const Options& options);

// Opens a device with the parameters applied; false with the driver's
// result and text when the open failed.
bool OpenDevice(zel::host::Component& driver, const Options& options, std::u16string& id, std::string& error);

// Closes the device and unloads the library; with --verbose, then tells on
// stderr how many more threads the process has than before the library was
// loaded ("driver threads left: 0" when the driver stopped all of its own),
// where the system lets threads be counted.
void CloseAndUnload(std::unique_ptr<zel::host::Component>& driver, const Options& options, const std::u16string& id);

// Calls a driver method by name, echoing the call to stderr with --verbose.
zel::host::CallResult CallLogged(zel::host::Component& driver, const Options& options, const std::u16string& method,
                                 const std::vector<zel::host::Value>& args);

// "result N: text" of the driver's last operation.
std::string LastErrorText(zel::host::Component& driver, const Options& options);

// Price text in currency units ("12.50", "12,5", "3") to hundredths.
bool ParsePrice(const std::string& text, int32_t& hundredths);

// "weight 1.234 kg  stable  price 12.50  cost 15.43". `reportsStable`
// false: the format carries no stable flag, so no word is printed. Money
// in hundredths prints as "price 1250 hundredths (12.50)".
std::string FormatReading(double weight, bool stable, double price, double cost, bool withPrice, const char* unit,
                          bool reportsStable = true, zel::devices::Money money = zel::devices::Money::kUnits);
// "1250 hundredths (12.50)", "12.50", or "1250 (as the scale sends)".
std::string MoneyText(double value, zel::devices::Money money);
// The unit of the weights the driver delivers for the options' model (from
// the model table) once the coefficient has scaled them: "kg" for a grams
// model with --coeff 0.001, "(kg x 1.02)" for a correction.
std::string WeightUnit(const Options& options);
// The value of an accepted --coeff (1 when none was given).
double CoefficientValue(const Options& options);
// What --coeff's text fails (empty when the driver reads it as the tool
// does): a plain decimal above zero, '.' or ',' as its separator.
std::string CheckCoefficient(const std::string& text);

}  // namespace zelscales

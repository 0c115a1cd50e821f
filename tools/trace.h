// `--trace`: the bytes on the scale's line, live on stderr, one line per
// transfer and per open and close of the line:
//
//   11:02:17.050 open     COMPORT: /dev/pts/3;9600\None\8\1, Handshaking=0, xONxOFF=0
//   11:02:17.052 sent     05  |.|
//   11:02:17.203 sent     11  |.|
//   11:02:17.260 received 02 53 20 20 32 2E 35 30 30 20 6B 67 03 04  |.S  2.500 kg..|
//   11:02:17.263 close
//
// Longer transfers go on in rows of 20 bytes under the first. The driver
// writes the traffic log only beside its own library file, so a traced run
// loads a private copy of the library in a temporary folder that holds its
// own log.txt, follows that folder's logs and removes the folder at the end:
// the user's library folder is never written to.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/commands.h"
#include "tools/traffic_log.h"

namespace zelscales {

// A block of the traffic log as trace lines, each ending in '\n'.
std::string FormatTraceBlock(const TrafficBlock& block);

// The speed and framing of a traffic log's line description: "9600 8E1"
// of "COMPORT: COM1;9600\Even\8\1, ..."; empty for a TCP line or a text
// it cannot read.
std::string LineSettingsOf(const std::string& line);

// The line settings each block of one log ran at. The driver logs a port's
// open at the port's defaults, before it switches to the device's speed and
// framing; the blocks after carry the settings in effect. Note() gives the
// settings a block ran at when they differ from those last shown, with the
// reason ("9600 8E1 (the open above was logged at the port's defaults,
// before the switch)"), and empty otherwise.
class LineSettingsNotes {
public:
    std::string Note(const TrafficBlock& block);

private:
    std::string shown_;         // the settings last shown
    bool afterOpen_ = false;    // no transfer since the last open
};

// A block for a transfer happening now, for a line the tool drives itself.
TrafficBlock TraceBlockNow(const char* direction, const void* data, size_t size, const std::string& line = {});

// Prints a block on stderr at once.
void PrintTraceBlock(const TrafficBlock& block);

// True when the library the options name has log.txt beside it: the driver
// writes its traffic log there already.
bool TrafficLogOn(const Options& options);

class TraceSession {
public:
    TraceSession() = default;
    ~TraceSession() { Stop(); }
    TraceSession(const TraceSession&) = delete;
    TraceSession& operator=(const TraceSession&) = delete;

    // Copies the library the options name (the tool's default when none),
    // and settings.ini when one lies beside it, into a new private folder
    // with a log.txt, points options.library at the copy and starts
    // following the folder's traffic logs (printing them on stderr; with
    // `print` false the copy only keeps the user's folder out of the
    // tool's logging). False with a message.
    bool Start(Options& options, std::string& error, bool print = true);
    // Once the library is unloaded: prints what is left and removes the
    // folder. Idempotent.
    void Stop();
    const std::filesystem::path& Folder() const { return folder_; }

private:
    void Follow();
    void Poll(bool last);

    std::filesystem::path folder_;
    std::vector<std::unique_ptr<TrafficLogFollower>> logs_;  // the follower's own until it is joined
    std::vector<LineSettingsNotes> notes_;                    // one per log
    std::string lastLog_;                     // the log the last printed block came from
    std::thread follower_;
    std::atomic<bool> stopping_{false};
};

}  // namespace zelscales

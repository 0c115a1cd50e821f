// Why a command failed, in words a technician can act on: the system's
// reason for a line that does not open (the tool tries the port or host
// again itself), what the line carried in a reading that failed (from the
// device's traffic log), and an event-driven scale's line lost and back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/line_probe.h"
#include "tools/commands.h"
#include "tools/traffic_log.h"

namespace zelscales {

// "/dev/ttyUSB0" or "192.168.1.50:20108".
std::string LineName(const Options& options);

// Tries the options' serial port or TCP host again, as the driver opens it.
platform::LineProbe ProbeLine(const Options& options);

// One line: what the probe found and what to do, e.g. "cannot open
// /dev/ttyUSB9: no such port; check the name (`zelscales ports` lists
// them)". A TCP line is never told to check a COM port.
std::string OpenAdvice(const Options& options, const platform::LineProbe& probe);

// What the line carried during a command that got no reading.
enum class Heard {
    kUnknown,  // no traffic log to tell
    kSilence,  // not a byte came
    kEcho,     // only what was sent came back
    kNoFrame,  // bytes came that made no frame
};
// `blocks`: the traffic-log blocks of the command, null when there is no
// log (an empty list: the log was on and nothing passed the line).
Heard JudgeTraffic(const std::vector<TrafficBlock>* blocks);

// One line for a reading that failed with the driver's `code`, e.g. "no
// byte came from the scale; check ...". `probe` is used for code 1 (the
// line did not open) and may be null otherwise.
std::string ReadingAdvice(const Options& options, int32_t code, Heard heard, const platform::LineProbe* probe);

// ReadingAdvice with the traffic judged and, for code 1, the line probed.
std::string ExplainReading(const Options& options, int32_t code, const std::vector<TrafficBlock>* blocks);

// Two lines for a command the driver refused: "tare failed: " and the
// reason, then the driver's own text.
// `blocks`: the command's traffic, when it was followed; a reply that came
// and did not confirm `command` is told as such, not as silence.
std::string FailedCommandText(const Options& options, const std::string& what, int32_t code,
                              const std::string& driverText, const std::vector<TrafficBlock>* blocks = nullptr,
                              const std::string& command = "command");

// The bytes received in the blocks, in order.
std::vector<uint8_t> Received(const std::vector<TrafficBlock>& blocks);

// A Modbus RTU reply in words: the value a write reply reads back, an
// exception reply's code; empty for anything else.
std::string ModbusReplyText(const std::vector<uint8_t>& reply);

// Two lines for a failed open: the advice, then the driver's own text
// ("result 1: ...").
std::string OpenFailureText(const Options& options, const std::string& driverText);

// An event-driven scale's line as its listener thread reports it through
// the traffic log: opened, closed, failed to open. Fed the blocks written
// after the device was opened (the driver's own open and close are done
// by then), it tells when the line cannot be opened, when it is lost and
// when it is back; each change once.
class LineWatch {
public:
    enum class Change { kCannotOpen, kLost, kBack };
    std::vector<Change> Feed(const std::vector<TrafficBlock>& blocks);

private:
    enum class State { kStarting, kUp, kDown, kLost };
    State state_ = State::kStarting;
    bool told_ = false;  // the reason for the current loss was told
};

// The line of a change, with the probe's reason where the line is down:
// "line /dev/ttyUSB0 lost; the driver tries to reopen it".
std::string ChangeText(const Options& options, LineWatch::Change change, const platform::LineProbe* probe);

// A device's traffic log followed while the driver writes it. Traffic
// logging is on when log.txt is beside the library; the tap only reads, it
// never creates or removes a file there. Follow() names the device.
class TrafficTap {
public:
    explicit TrafficTap(const std::string& libraryPath);
    TrafficTap(const TrafficTap&) = delete;
    TrafficTap& operator=(const TrafficTap&) = delete;

    // Devices created from now on write a traffic log.
    bool On() const { return on_; }
    // Why not, when not.
    const std::string& Problem() const { return problem_; }
    // Starts at the log's present end.
    void Follow(const std::string& deviceId);
    // The blocks appended since the last call (whole ones); `raw` gets the
    // text as written. Null when the log is off or not followed.
    std::unique_ptr<std::vector<TrafficBlock>> Take(std::string* raw = nullptr);

private:
    std::string directory_, marker_;
    bool on_ = false;
    std::string problem_;
    std::unique_ptr<TrafficLogFollower> log_;
};

}  // namespace zelscales

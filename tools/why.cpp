#include "tools/why.h"

#include "devices/ModelTable.h"
#include "platform/sys.h"

namespace zelscales {

namespace {

// The driver's own connect waits this long.
const unsigned kConnectProbeMs = 3000;

bool Tcp(const Options& o) { return !o.host.empty(); }

std::string Directory(const std::string& path) {
    const size_t at = path.find_last_of("/\\");
    if (at == std::string::npos) return ".";
    return at == 0 ? path.substr(0, 1) : path.substr(0, at);
}

// What to do about a serial port that does not open.
std::string SerialRemedy(const platform::LineProbe& p) {
    using platform::LineFault;
    switch (p.fault) {
        case LineFault::kNoSuchPort: return "check the name (`zelscales ports` lists the serial ports)";
        case LineFault::kNotSerial: return "give the scale's serial port (`zelscales ports` lists them)";
        case LineFault::kDenied:
            if (!p.group.empty() && p.group != "root")
                return "join the group " + p.group + " (sudo usermod -aG " + p.group +
                       " $USER, then log in again)";
            return "ask for read and write access to it";
        case LineFault::kBusy: return "close the program that holds it, then try again";
        case LineFault::kNone: return "it opens now; it may have been busy for a moment: try again";
        default: return "check the port and its adapter";
    }
}

std::string TcpRemedy(const platform::LineProbe& p) {
    using platform::LineFault;
    switch (p.fault) {
        case LineFault::kNoSuchHost: return "check the host name or address (--host)";
        case LineFault::kRefused:
            return "nothing listens on that port: check --tcp-port and that the converter is on";
        case LineFault::kUnreachable: return "check the address and the network between";
        case LineFault::kTimedOut: return "no answer: check the address, the network and any firewall";
        case LineFault::kNone:
            return "it connects now; a converter may take one client at a time: try again";
        default: return "check the host and the network";
    }
}

}  // namespace

std::string LineName(const Options& o) {
    return Tcp(o) ? o.host + ":" + std::to_string(o.tcpPort) : o.port;
}

platform::LineProbe ProbeLine(const Options& o) {
    if (Tcp(o)) return platform::ProbeTcpHost(o.host, static_cast<uint16_t>(o.tcpPort), kConnectProbeMs);
    return platform::ProbeSerialPort(o.port);
}

std::string OpenAdvice(const Options& o, const platform::LineProbe& p) {
    std::string reason = platform::LineFaultName(p.fault);
    if (p.fault == platform::LineFault::kOther && !p.detail.empty()) reason = p.detail;
    else if (p.fault == platform::LineFault::kBusy && !p.detail.empty()) reason += " (" + p.detail + ")";
    if (p.fault == platform::LineFault::kNone)
        return (Tcp(o) ? "could not connect to " : "could not open ") + LineName(o) + "; " +
               (Tcp(o) ? TcpRemedy(p) : SerialRemedy(p));
    return (Tcp(o) ? "cannot connect to " : "cannot open ") + LineName(o) + ": " + reason + "; " +
           (Tcp(o) ? TcpRemedy(p) : SerialRemedy(p));
}

Heard JudgeTraffic(const std::vector<TrafficBlock>* blocks) {
    if (!blocks) return Heard::kUnknown;
    std::vector<uint8_t> sent, received;
    for (const TrafficBlock& b : *blocks) {
        if (b.direction == "sent") sent.insert(sent.end(), b.bytes.begin(), b.bytes.end());
        else if (b.direction == "received") received.insert(received.end(), b.bytes.begin(), b.bytes.end());
    }
    if (received.empty()) return Heard::kSilence;
    if (received == sent) return Heard::kEcho;
    return Heard::kNoFrame;
}

std::string ReadingAdvice(const Options& o, int32_t code, Heard heard, const platform::LineProbe* probe) {
    const std::string model = std::to_string(o.model);
    switch (code) {
        case zel::kNoConnection:
            return probe ? OpenAdvice(o, *probe) : "the line to the scale did not open";
        case zel::kPortError:
            return "the serial line failed; check the cable and the adapter, then try again";
        case zel::kNoAnswer:
            switch (heard) {
                case Heard::kSilence:
                    // A scale answers only its own protocol's request: silence is
                    // as often a wrong model or speed as a cable.
                    return Tcp(o) ? "no byte came from " + LineName(o) +
                                        "; a scale answers only its own model's request at its speed: check "
                                        "--model (`zelscales detect` finds it), then the converter's side to "
                                        "the scale: its cable, its speed and the scale's power"
                                  : "no byte came from the scale on " + o.port +
                                        "; a scale answers only its own model's request at its speed: check "
                                        "--model and --baud (`zelscales detect` finds them), then the cable, "
                                        "the scale's power and the port name";
                case Heard::kEcho:
                    return "only the request came back: the line echoes (a loopback plug, or a cable or "
                           "converter that echoes) and no scale answers; check the cable";
                case Heard::kNoFrame:
                    return "bytes came but made no frame of model " + model +
                           ": a wrong speed or model? `zelscales detect` finds them";
                default:
                    return "no valid reply from the scale: no bytes (check the cable and the scale's power) or "
                           "a wrong speed or model (`zelscales detect` finds them)";
            }
        case zel::kBadPrice: return "the scale refused the price; check its value";
        case zel::kNotSupported:
            if (const zel::devices::ModelInfo* row = zel::devices::FindModel(o.model);
                row && row->kind == zel::devices::ModelKind::kListener)
                return "model " + model + " pushes its readings when the scale sends them: `zelscales listen --model " +
                       model + (Tcp(o) ? " --host " + o.host : o.port.empty() ? "" : " --port " + o.port) +
                       "` prints them";
            return "model " + model + " does not take this command";
        case zel::kOverload: return "the scale shows an overload; take the load off";
        case zel::kDeviceNotFound: return "the device is no longer in the driver's table; open it again";
        default: return "the driver failed";
    }
}

std::string ExplainReading(const Options& o, int32_t code, const std::vector<TrafficBlock>* blocks) {
    if (code == 1) {
        const platform::LineProbe probe = ProbeLine(o);
        return ReadingAdvice(o, code, Heard::kUnknown, &probe);
    }
    return ReadingAdvice(o, code, JudgeTraffic(blocks), nullptr);
}

std::string FailedCommandText(const Options& o, const std::string& what, int32_t code,
                              const std::string& driverText, const std::vector<TrafficBlock>* blocks,
                              const std::string& command) {
    if (code == 3 && blocks && JudgeTraffic(blocks) == Heard::kNoFrame) {
        // A reply came; it did not confirm the command.
        return what + ": the scale answered " + HexOf(Received(*blocks)) + ", which does not confirm the " + command +
               "\n" + driverText;
    }
    return what + ": " + ExplainReading(o, code, blocks) + "\n" + driverText;
}

std::vector<uint8_t> Received(const std::vector<TrafficBlock>& blocks) {
    std::vector<uint8_t> received;
    for (const TrafficBlock& b : blocks)
        if (b.direction == "received") received.insert(received.end(), b.bytes.begin(), b.bytes.end());
    return received;
}

std::string ModbusReplyText(const std::vector<uint8_t>& r) {
    char buf[128];
    if (r.size() >= 5 && (r[1] & 0x80)) {
        std::snprintf(buf, sizeof buf, "an exception reply of function %02X: exception code %d", r[1] & 0x7F, r[2]);
        return buf;
    }
    if (r.size() >= 8 && (r[1] == 0x06 || r[1] == 0x10)) {
        std::snprintf(buf, sizeof buf, "a write reply of function %02X: register %04X reads back %s%04X", r[1],
                      (r[2] << 8) | r[3], r[1] == 0x06 ? "value " : "count ", (r[4] << 8) | r[5]);
        return buf;
    }
    return std::string();
}

std::string OpenFailureText(const Options& o, const std::string& driverText) {
    if (o.model == 20 && o.port.empty() && o.host.empty()) return "the emulator did not open\n" + driverText;
    return OpenAdvice(o, ProbeLine(o)) + "\n" + driverText;
}

std::vector<LineWatch::Change> LineWatch::Feed(const std::vector<TrafficBlock>& blocks) {
    std::vector<Change> changes;
    for (const TrafficBlock& b : blocks) {
        if (b.direction == "open") {
            if (state_ == State::kDown || state_ == State::kLost) changes.push_back(Change::kBack);
            state_ = State::kUp;
            told_ = false;
        } else if (b.direction == "close") {
            // After the open the driver closes the line only when it failed.
            if (state_ == State::kUp || state_ == State::kStarting) {
                changes.push_back(Change::kLost);
                state_ = State::kLost;
                told_ = false;
            }
        } else if (b.direction == "open failed") {
            if (state_ == State::kStarting || state_ == State::kUp) {
                changes.push_back(Change::kCannotOpen);
                state_ = State::kDown;
            } else if (state_ == State::kLost && !told_) {
                changes.push_back(Change::kCannotOpen);
                told_ = true;
            }
        }
    }
    return changes;
}

std::string ChangeText(const Options& o, LineWatch::Change change, const platform::LineProbe* probe) {
    switch (change) {
        case LineWatch::Change::kLost:
            return "line " + LineName(o) + " lost; the driver tries to reopen it";
        case LineWatch::Change::kBack:
            return "line " + LineName(o) + " is back";
        default:
            if (!probe || probe->fault == platform::LineFault::kNone)
                return (Tcp(o) ? "cannot connect to " : "cannot open ") + LineName(o) +
                       " just now; the driver keeps trying";
            return OpenAdvice(o, *probe) + "; the driver keeps trying";
    }
}

TrafficTap::TrafficTap(const std::string& libraryPath)
    : directory_(Directory(libraryPath)), marker_(directory_ + platform::PathSeparator() + "log.txt") {
    on_ = platform::FileExists(marker_);
    if (!on_) problem_ = "no " + marker_;
}

void TrafficTap::Follow(const std::string& deviceId) {
    if (!on_) return;
    std::string name = deviceId;
    for (char& c : name)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    log_.reset(new TrafficLogFollower(directory_ + platform::PathSeparator() + "log_scales_" + name + ".log", true));
}

std::unique_ptr<std::vector<TrafficBlock>> TrafficTap::Take(std::string* raw) {
    if (!on_ || !log_) return nullptr;
    return std::unique_ptr<std::vector<TrafficBlock>>(new std::vector<TrafficBlock>(log_->Take(false, raw)));
}

}  // namespace zelscales

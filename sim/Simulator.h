// A simulated scale: the scale's side of a line, on a pseudo-terminal or a
// loopback TCP port, for integration tests and for developing without a
// scale at hand.
//
// Every model fact lives in the model's descriptor (sim/Models.h), one per
// model, in the family files of sim/models/: line settings, whether the
// scale is polled, pushes or streams, its frame encoder, the marker a
// broken frame spoils, the requests and commands it recognises, what a
// command does to the display and what it answers. This class is the
// model-independent part:
//   Polled   a recognised Request is answered with the frame of what the
//            scale shows now (SetAckFirstByte: the frame's first byte goes
//            at once for the request's first byte, the rest when the whole
//            request is in; default: silent until the whole request is in).
//   Pushes   a frame per PushReading, or every SetPushPeriodMs.
//   Streams  the frame over and over while a client holds the line,
//            SetStreamGapMs apart (0: back to back at the line's pace).
// Other recognised messages (acknowledgements, tare, zero, price...) apply
// the descriptor's effect to the display before they are recorded, and get
// the descriptor's answer, if any. Bytes that match nothing are recorded as
// they come, in runs. Faults apply to every frame, whatever the mode.
// Cost, unless set with SetCost, is weight x price rounded to hundredths.
//
// Lines: a pseudo-terminal behind a stable symbolic link (DevicePath), the
// slave left at the system's default cooked settings so the client must set
// raw mode itself; or 127.0.0.1:port, one connection at a time. A pty has no
// speed: the model's serial settings (LineSettings) are documentation only.
//
// Thread-safe: every method may be called from any thread while the
// simulator runs its scale on its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct SimModel;

enum class Fault {
    None,
    Silence,      // answers and pushes nothing (still records what arrives)
    SlowBytes,    // param: milliseconds between the bytes of each frame
    Garbage,      // param: count of random bytes sent before each frame
                  // (never the frame's first byte value; default 5)
    BrokenFrame,  // a marker byte is wrong (which one: the model's
                  // descriptor), or the frame is one byte short
    HangUp,       // once, instead of the next frame: the line is cut
                  // (pty: a fresh pty behind the same DevicePath; TCP: the
                  // connection is closed and the next one accepted); then the
                  // fault clears itself
    // The faults below stay until changed.
    Echo,            // every byte received goes straight back (a half-duplex
                     // adapter that hears itself); the scale still answers
    Loopback,        // every byte received goes straight back; no scale
                     // answers (a loopback plug, a converter with no scale)
    HalfThenHangUp,  // each frame: its first half, then the line is cut as
                     // by HangUp
    Reset,           // each frame: its first half, then on TCP a reset
                     // (SO_LINGER 0); on a pty as HalfThenHangUp
    Noise,           // random bytes all the time at the line's pace (that of
                     // SetPaceBaud, else param baud, default 9600), instead
                     // of every frame and answer
    Drip,            // each frame one byte at a time, param ms apart
                     // (default 60)
    ChangedByte,     // one byte of each frame holds another value: a random
                     // one, or with param n > 0 byte n-1
    Late,            // each answer to a request goes param ms after the
                     // request (a slow scale or converter), with what the
                     // scale showed when the request came; a pty loses the
                     // answers due while nobody holds it, a TCP connection
                     // takes the ones it still owes with it
    SecondScale,     // each answer to a request is followed, param ms later
                     // (0: at once), by a second scale's frame showing
                     // 1.111 kg more (two scales at one address, an RS-485
                     // bus)
};

// One thing seen on the line.
struct Record {
    enum Kind {
        Request,  // a polled model's complete request
        Ack,      // acknowledgement of a pushed frame
        Tare,     // tare command (value: its digits, if it carries any)
        Price,    // price command (value: the price's digits)
        Unknown,  // bytes that match no request or command
        Sent,     // a frame, an answer or raw bytes the simulator wrote
        LineCut,  // the simulator hung up (bytes empty)
        Zero,     // zero command
        Command,  // another recognised command (value: its digits, if any)
    };
    Kind kind;
    std::string bytes;
    long long value;     // see Kind
    uint64_t timeMs;     // platform::MonotonicMs() when recognised / written
};

const char* RecordKindName(Record::Kind kind);

// True for the models the simulator speaks.
bool ModelSupported(int model);
// True for models that push readings when told (PushReading).
bool ModelPushes(int model);
// True for models that send their frame over and over.
bool ModelStreams(int model);
// The serial settings the model's scale uses, e.g. "8N1" or "8E1".
const char* LineSettings(int model);

class Simulator {
public:
    explicit Simulator(int model);
    // A scale speaking this descriptor rather than the registry's (tests of
    // the simulator itself, formats under development).
    explicit Simulator(const SimModel& model);
    ~Simulator();  // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    int Model() const { return model_; }

    // Starts the scale on a new pseudo-terminal. `linkPath`: where to put the
    // stable symbolic link to the slave; empty = a private temporary
    // directory (removed by Stop). False when already started or on failure.
    bool StartPty(const std::string& linkPath = std::string());
    std::string DevicePath() const;  // the stable link; "" unless on a pty
    std::string SlavePath() const;   // the current /dev/pts/N behind it

    // Starts the scale on 127.0.0.1:`port` (0 = any free port).
    bool StartTcp(uint16_t port = 0);
    uint16_t TcpPort() const;

    // Stops the scale thread, closes the line and removes the link made by
    // StartPty. Returns promptly, also in the middle of a slow frame.
    void Stop();
    bool Running() const;

    // True once a client holds the line: on a pty, the slave is open and no
    // longer echoes (the client has set raw mode); on TCP, a connection was
    // accepted. WaitPeer waits for that up to timeoutMs.
    bool PeerReady() const;
    bool WaitPeer(int timeoutMs) const;

    // What the scale shows, in kilograms and currency units.
    void SetWeight(double kg);
    void SetStable(bool stable);
    void SetOverload(bool overload);
    void SetPrice(double perKg);
    void SetCost(double cost);  // fixes the cost shown (default: computed)
    void SetTare(double kg);
    void SetDecimals(int decimals);  // 0..4, default 3
    void SetNegative(bool negative);  // shows the minus sign whatever the weight
    void SetText(const std::string& text);  // free text of formats that carry one
    double Weight() const;
    double Price() const;
    double Tare() const;
    int Decimals() const;
    // True once a zero command, or a tare that zeroes the weight, was
    // applied; SetWeight clears it.
    bool Zeroed() const;

    void SetFault(Fault fault, int param = 0);
    Fault CurrentFault() const;

    // TCP: behave as a serial-to-Ethernet converter that closes the
    // connection right after writing each answer to a request, then accepts
    // the next one. No effect on a pty or on pushed readings.
    void SetCloseAfterReply(bool on);
    // TCP connections accepted so far.
    int Connections() const;

    // The frame the scale would send now (no fault applied).
    std::string Frame() const;

    // Writes bytes on the line as they are (queued; sent by the scale thread).
    void SendRaw(const std::string& bytes);
    // Event models: push one reading now (queued like SendRaw).
    void PushReading();
    // Event models: push a reading every `ms` (0 = off).
    void SetPushPeriodMs(int ms);
    // Streaming models: the pause between frames (0 = back to back;
    // default 100).
    void SetStreamGapMs(int ms);
    // Writes frames and answers at the pace of a serial line of this speed
    // (each byte one start bit, 8 data bits, the model's parity and stop
    // bits); 0, the default, writes them as fast as the line takes them.
    void SetPaceBaud(int baud);
    // Polled models: answer a request's first byte at once with the frame's
    // first byte (see above). Default off.
    void SetAckFirstByte(bool on);
    // Cuts the line now, as the HangUp fault does.
    void HangUp();

    int RequestsSeen() const;  // polled models: complete requests recognised
    int FramesSent() const;    // frames written in full (answers and pushes)
    int HangUps() const;       // line cuts done so far
    // MonotonicMs() just after the last byte of the last frame was written;
    // 0 before any.
    uint64_t LastFrameSentMs() const;

    // Everything recognised from the driver, oldest first (no Sent or
    // LineCut records).
    std::vector<std::string> Received() const;
    std::vector<Record> Log() const;  // every record, oldest first
    void ClearReceived();             // empties both
    // Waits until at least `count` records of `Received()` exist.
    bool WaitReceived(size_t count, int timeoutMs) const;

    // Called on the scale thread for every record as it is made; set it
    // before starting. Must not call back into the simulator's Stop.
    void SetObserver(std::function<void(const Record&)> observer);

    struct Impl;

private:
    int model_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim

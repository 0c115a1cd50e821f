// A simulated scale: the scale's side of a line, on a pseudo-terminal or a
// loopback TCP port, for integration tests and for developing without a
// scale at hand.
//
// Models and what the simulated scale does:
//   13, 27  CAS text frame. Waits for 05 then 11; answers with 16 bytes
//           06 01 02 status('S'/'U') weight(7 chars) " kg" 03 04.
//           Weight field: sign (' ' or '-') and the value right-aligned in 6
//           characters with Decimals() decimals (fewer when it would not fit);
//           overload: "FFFFFFF".
//   14      CAS-LP binary frame. Waits for 01 then 89; answers with 18 bytes
//           01 80 AA status, weight magnitude (u16 LE), price and cost in
//           hundredths (i32 LE), 4 zero bytes. Status: bit 0 overload
//           (also set when the weight does not fit 16 bits), bit 6 stable,
//           bit 7 negative.
//   10      Massa-K. Waits for 45; answers with the weight as a signed 16-bit
//           little-endian number (clamped to its range).
//   5       VN-220, event. Pushes 3C 00 d1d2 d3d4 d5d6 status 3E: six packed
//           decimal digits, status bits 0-1 = Decimals(), bit 5 = minus.
//   32      VN-220 with tare, event. Pushes the same 7 bytes followed by
//           3D 00 00 tare(u16 BE) 00 3E.
//   15      VTA-60 text, event. Pushes weight "%7.3f" CR price "%7.2f" CR
//           cost "%7.2f" CR LF (25 bytes).
//   22      VTA-60 digits, event. Pushes 18 bytes, each a digit value 0-9:
//           weight in grams, price and cost in hundredths, six digits each,
//           least significant first.
// Integer weights (14, 10, 5, 32 and the tare of 32) are the weight times
// 10^Decimals(), rounded: grams with the default 3 decimals. Negative
// weights are sent as 0 by formats without a sign (22). Stability is
// carried by 13, 27 and 14 only; overload by 13, 27 and 14 only.
// Cost, unless set with SetCost, is weight x price rounded to hundredths.
//
// What the driver sends is recognised and recorded (see Received/Log):
// requests of the polled models; the acknowledgement 3C 00 41 3E (5, 32);
// the tare command 3C 00 62 ddd 3E (32), which also sets the tare the scale
// reports, in the same units as the weight; the tare command 00 00 01 (22);
// the price command 00 00 02 + 5 digits + 00 (22), which also sets the price
// the scale shows. Bytes that match nothing are recorded as they come, in
// runs.
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
#include <string>
#include <vector>

namespace sim {

enum class Fault {
    None,
    Silence,      // answers and pushes nothing (still records what arrives)
    SlowBytes,    // param: milliseconds between the bytes of each frame
    Garbage,      // param: count of random bytes sent before each frame
                  // (never the frame's first byte value; default 5)
    BrokenFrame,  // a marker byte is wrong: 13/27 ETX, 14 the AA byte, 5/32
                  // the closing 3E, 15 the final LF (sent as CR); the
                  // marker-less 10 and 22 send their frame one byte short
    HangUp,       // once, instead of the next answer or push: the line is cut
                  // (pty: a fresh pty behind the same DevicePath; TCP: the
                  // connection is closed and the next one accepted); then the
                  // fault clears itself
};

// One thing seen on the line.
struct Record {
    enum Kind {
        Request,  // a polled model's complete request
        Ack,      // acknowledgement (5, 32)
        Tare,     // tare command (32: value = tare digits; 22: value 0)
        Price,    // price command (22: value = price in hundredths)
        Unknown,  // bytes that match no request or command
        Sent,     // a frame or raw bytes the simulator wrote
        LineCut,  // the simulator hung up (bytes empty)
    };
    Kind kind;
    std::string bytes;
    long long value;     // see Kind
    uint64_t timeMs;     // platform::MonotonicMs() when recognised / written
};

const char* RecordKindName(Record::Kind kind);

// True for the models the simulator speaks.
bool ModelSupported(int model);
// True for models that push readings on their own (5, 32, 15, 22).
bool ModelPushes(int model);
// The serial settings the model's scale uses, e.g. "8N1" or "8E1".
const char* LineSettings(int model);

class Simulator {
public:
    explicit Simulator(int model);
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
    void SetDecimals(int decimals);  // 0..3, default 3
    double Weight() const;
    double Price() const;
    double Tare() const;
    int Decimals() const;

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
    Impl* impl_;
};

}  // namespace sim

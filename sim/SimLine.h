// The simulated scale's line: a pseudo-terminal behind a stable symbolic
// link or one loopback TCP connection at a time, bytes written at a serial
// line's pace, and the faults that spoil frames or cut the line.
//
// Threads: the handles and paths change only on the scale thread or while it
// is not running, under the mutex given to the constructor; other threads
// read them under it. The fault, the pace and the counters are guarded by
// that mutex too. The write helpers, EnsurePeer, Cut and the noise are for
// the scale thread only (or for a test driving the line alone).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/pty.h"
#include "platform/sync.h"
#include "sim/Simulator.h"

namespace sim {

struct SimModel;

// Faults under which no frame and no answer goes out.
bool FaultMutes(Fault f);
// Faults that cut the line after the first half of each frame.
bool FaultCutsHalfway(Fault f);
// The pause after each byte of a frame under this fault, 0 for none.
int FaultByteGapMs(Fault f, int param);

// A frame's bytes under a fault: garbage first, a broken marker, a changed
// byte; other faults leave it whole. `desc` names the bytes garbage avoids
// and how a frame breaks (null: garbage avoids nothing, breaking drops the
// last byte).
std::string FaultedBytes(const SimModel* desc, const std::string& frame, Fault f, int param);
// `count` random bytes (at most 4096), none of the model's header or
// noGarbage bytes.
std::string GarbageBytes(const SimModel* desc, int count);
// Byte param-1 (a random one for param 0) takes another, random, value.
void ChangeOneByte(std::string* frame, int param);

class SimLine {
public:
    enum Mode { Off, Pty, Tcp };

    // `onGone`: called first whenever the client goes away or the line is
    // cut (the scale forgets half-read messages and half-written frames).
    SimLine(const SimModel* desc, platform::RecursiveMutex& mu, std::function<void()> onGone)
        : desc_(desc), mu_(mu), onGone_(std::move(onGone)) {}
    ~SimLine() { Close(); }
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Opens the line; false when already open or on failure. OpenPty: an
    // empty `linkPath` puts the link in a private temporary directory.
    bool OpenPty(const std::string& linkPath, const std::string& linkName);
    bool OpenTcp(uint16_t port);
    // Closes it and removes the link (and directory) OpenPty made.
    void Close();

    Mode LineMode() const;
    int Handle() const { return line_; }        // scale thread
    int Listener() const { return listener_; }  // scale thread
    // Pty with no client on the slave (scale thread).
    bool Absent() const { return mode_ == Pty && peerAbsent_; }
    // A client holds the line and could hear the scale (scale thread).
    bool Watchable() const { return line_ != platform::kNoHandle && !Absent(); }
    std::string LinkPath() const;
    std::string SlavePath() const;
    uint16_t Port() const;
    bool PeerReady() const;  // any thread
    int Connections() const;
    int HangUps() const;

    void SetFault(Fault f, int param);  // param clamped to 0..60000
    Fault CurrentFault() const;
    void GetFault(Fault* f, int* param) const;
    // As GetFault; a HangUp fault clears itself on the way.
    void TakeFault(Fault* f, int* param);
    void SetPaceBaud(int baud);  // clamped; 0: unpaced
    void SetCloseAfterReply(bool on);

    // Takes a waiting client if there is one; true when a client is there.
    bool EnsurePeer();
    // A client in raw mode (a cooked pty would echo frames).
    bool StreamPeerReady();
    // The client went away: the connection is closed, the pty waits anew.
    void PeerGone();
    // Cuts the line on purpose (pty: a fresh one behind the same link; TCP:
    // closed, with a reset when `reset`).
    void Cut(bool reset);
    // TCP with SetCloseAfterReply: closes the connection after an answer;
    // true when it did.
    bool CloseAfterReply();

    // Writes all bytes; false when the line went away, stalled or stops.
    bool WriteAll(const char* data, size_t n);
    // Writes one slice without waiting; < 0: the client is gone (PeerGone
    // was done).
    long WriteSome(const char* data, size_t n);
    // Sends bytes `slowMs` apart when slowMs > 0, else at the pace set.
    bool Send(const std::string& bytes, int slowMs);
    // Paced: the received bytes take their wire time; call per byte read.
    void ByteReceived(double byteUs);

    // The time of one byte at the pace set, 0 unpaced.
    double ByteUs() const;
    int BitsPerByte() const;
    static double NowUs();

    // Noise fault: the random bytes owed at the line's pace since the last
    // step, as much as the line takes now (the rest is lost, as on a wire).
    // Returns what was written.
    std::string NoiseStep();
    bool NoiseRunning() const { return noiseFromUs_ > 0; }

    // Stop: interrupts slow and paced writes and waits.
    void RequestStop();
    void ClearStop();
    bool Stopping() const { return stop_; }
    // Waits up to ms; true when stopping.
    bool Pause(unsigned ms);

private:
    bool SendPaced(const std::string& bytes, double byteUs);

    const SimModel* const desc_;
    platform::RecursiveMutex& mu_;
    const std::function<void()> onGone_;

    // Handles and paths (mu_ for writes and for other threads' reads).
    Mode mode_ = Off;
    int line_ = platform::kNoHandle;      // pty master or accepted connection
    int listener_ = platform::kNoHandle;  // TCP
    uint16_t port_ = 0;
    std::string linkPath_, slavePath_, tempDir_;
    bool peerAbsent_ = true;  // pty: no client holds the slave (scale thread only)

    // mu_.
    Fault fault_ = Fault::None;
    int faultParam_ = 0;
    int paceBaud_ = 0;
    bool closeAfterReply_ = false;
    int hangups_ = 0, connections_ = 0;

    // Scale thread only.
    double rxDoneUs_ = 0;     // paced: when the last byte received would have arrived
    double noiseFromUs_ = 0;  // noise owed from this time on (0: not running)

    std::atomic<bool> stop_{false};
    platform::Event stopEvent_;
};

}  // namespace sim

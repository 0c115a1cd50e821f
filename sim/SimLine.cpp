#include "sim/SimLine.h"

#include <algorithm>
#include <chrono>

#include "platform/sys.h"
#include "sim/Models.h"

namespace sim {

namespace {

constexpr int kWriteStallMs = 1000;  // a frame the line takes nothing of for this long is dropped
constexpr int kDefaultDripMs = 60;
constexpr int kDefaultGarbage = 5;
constexpr int kGarbageLimit = 4096;
constexpr int kDefaultNoiseBaud = 9600;
constexpr size_t kNoiseChunkLimit = 4096;

}  // namespace

bool FaultMutes(Fault f) { return f == Fault::Silence || f == Fault::Loopback || f == Fault::Noise; }

bool FaultCutsHalfway(Fault f) { return f == Fault::HalfThenHangUp || f == Fault::Reset; }

int FaultByteGapMs(Fault f, int param) {
    if (f == Fault::SlowBytes) return param;
    if (f == Fault::Drip) return param > 0 ? param : kDefaultDripMs;
    return 0;
}

std::string GarbageBytes(const SimModel* desc, int count) {
    if (count > kGarbageLimit) count = kGarbageLimit;
    if (count < 0) count = 0;
    std::string g(static_cast<size_t>(count), '\0');
    if (!g.empty() && !platform::RandomBytes(&g[0], g.size())) {
        for (size_t i = 0; i < g.size(); ++i) g[i] = static_cast<char>(0x30 + i % 10);
    }
    std::string avoid = desc ? desc->noGarbage : std::string();
    if (desc && desc->header >= 0) avoid.push_back(static_cast<char>(desc->header));
    for (char& c : g) {
        // Steps to another value until it is none of those to avoid (97 is
        // odd: 256 steps visit every value).
        for (int i = 0; i < 256 && avoid.find(c) != std::string::npos; ++i) c = static_cast<char>(c + 97);
    }
    return g;
}

void ChangeOneByte(std::string* frame, int param) {
    if (frame->empty()) return;
    uint32_t r = 0;
    if (!platform::RandomBytes(&r, sizeof r)) r = static_cast<uint32_t>(platform::MonotonicMs()) * 2654435761u;
    const size_t at = param > 0 ? std::min(static_cast<size_t>(param - 1), frame->size() - 1)
                                : static_cast<size_t>(r >> 8) % frame->size();
    const uint8_t flip = static_cast<uint8_t>(1 + (r & 0xFF) % 255);  // never 0: the value changes
    (*frame)[at] = static_cast<char>(static_cast<uint8_t>((*frame)[at]) ^ flip);
}

std::string FaultedBytes(const SimModel* desc, const std::string& frame, Fault f, int param) {
    std::string whole = frame;
    if (f == Fault::ChangedByte) ChangeOneByte(&whole, param);
    std::string bytes;
    if (f == Fault::Garbage) bytes = GarbageBytes(desc, param > 0 ? param : kDefaultGarbage);
    if (f == Fault::BrokenFrame) {
        if (desc && desc->brk) bytes += desc->brk(whole);
        else if (!whole.empty()) bytes += whole.substr(0, whole.size() - 1);
    } else {
        bytes += whole;
    }
    return bytes;
}

// --- opening and closing ---------------------------------------------------

bool SimLine::OpenPty(const std::string& linkPath, const std::string& linkName) {
    {
        CAutoLockMutex lock(mu_);
        if (mode_ != Off) return false;
    }
    std::string link = linkPath, dir;
    if (link.empty()) {
        dir = platform::MakePrivateTempDir("zelsim-");
        if (dir.empty()) return false;
        link = dir + "/" + linkName;
    } else if (platform::FileExists(link) && platform::ReadSymlink(link).empty()) {
        return false;  // never replace a real file
    }
    std::string slave;
    int master = platform::PtyOpenMaster(&slave);
    if (master == platform::kNoHandle || !platform::ReplaceSymlink(slave, link)) {
        platform::IoClose(master);
        if (!dir.empty()) platform::RemovePath(dir);
        return false;
    }
    CAutoLockMutex lock(mu_);
    mode_ = Pty;
    line_ = master;
    linkPath_ = link;
    slavePath_ = slave;
    tempDir_ = dir;
    peerAbsent_ = true;
    return true;
}

bool SimLine::OpenTcp(uint16_t port) {
    {
        CAutoLockMutex lock(mu_);
        if (mode_ != Off) return false;
    }
    uint16_t bound = 0;
    int lst = platform::TcpListen(port, &bound);
    if (lst == platform::kNoHandle) return false;
    CAutoLockMutex lock(mu_);
    mode_ = Tcp;
    listener_ = lst;
    line_ = platform::kNoHandle;
    port_ = bound;
    return true;
}

void SimLine::Close() {
    CAutoLockMutex lock(mu_);
    // The link goes before the pty: once closed, its number may be another
    // program's pty, which a client retrying the link would then take.
    if (mode_ == Pty) {
        if (platform::ReadSymlink(linkPath_) == slavePath_) platform::RemovePath(linkPath_);
        if (!tempDir_.empty()) platform::RemovePath(tempDir_);
    }
    platform::IoClose(line_);
    platform::IoClose(listener_);
    line_ = listener_ = platform::kNoHandle;
    linkPath_.clear();
    slavePath_.clear();
    tempDir_.clear();
    port_ = 0;
    mode_ = Off;
    noiseFromUs_ = 0;
}

// --- state ------------------------------------------------------------------

SimLine::Mode SimLine::LineMode() const {
    CAutoLockMutex lock(mu_);
    return mode_;
}

std::string SimLine::LinkPath() const {
    CAutoLockMutex lock(mu_);
    return linkPath_;
}

std::string SimLine::SlavePath() const {
    CAutoLockMutex lock(mu_);
    return slavePath_;
}

uint16_t SimLine::Port() const {
    CAutoLockMutex lock(mu_);
    return port_;
}

bool SimLine::PeerReady() const {
    CAutoLockMutex lock(mu_);
    if (mode_ == Pty) return platform::PtyPeerOpen(line_) && !platform::PtyPeerCooked(line_);
    if (mode_ == Tcp) return line_ != platform::kNoHandle;
    return false;
}

int SimLine::Connections() const {
    CAutoLockMutex lock(mu_);
    return connections_;
}

int SimLine::HangUps() const {
    CAutoLockMutex lock(mu_);
    return hangups_;
}

void SimLine::SetFault(Fault f, int param) {
    if (param < 0) param = 0;
    if (param > 60000) param = 60000;
    CAutoLockMutex lock(mu_);
    fault_ = f;
    faultParam_ = param;
}

Fault SimLine::CurrentFault() const {
    CAutoLockMutex lock(mu_);
    return fault_;
}

void SimLine::GetFault(Fault* f, int* param) const {
    CAutoLockMutex lock(mu_);
    *f = fault_;
    *param = faultParam_;
}

void SimLine::TakeFault(Fault* f, int* param) {
    CAutoLockMutex lock(mu_);
    *f = fault_;
    *param = faultParam_;
    if (fault_ == Fault::HangUp) fault_ = Fault::None;
}

void SimLine::SetPaceBaud(int baud) {
    CAutoLockMutex lock(mu_);
    paceBaud_ = baud > 0 ? std::min(baud, 4000000) : 0;
}

void SimLine::SetCloseAfterReply(bool on) {
    CAutoLockMutex lock(mu_);
    closeAfterReply_ = on;
}

// --- the client -------------------------------------------------------------

bool SimLine::EnsurePeer() {
    if (mode_ == Pty) {
        if (peerAbsent_ && platform::PtyPeerOpen(line_)) peerAbsent_ = false;
        return !peerAbsent_;
    }
    if (mode_ == Tcp && line_ == platform::kNoHandle) {
        int c = platform::TcpAccept(listener_);
        if (c != platform::kNoHandle) {
            CAutoLockMutex lock(mu_);
            line_ = c;
            ++connections_;
        }
    }
    return line_ != platform::kNoHandle;
}

bool SimLine::StreamPeerReady() {
    if (!EnsurePeer()) return false;
    return mode_ != Pty || !platform::PtyPeerCooked(line_);
}

void SimLine::PeerGone() {
    if (onGone_) onGone_();
    if (mode_ == Pty) {
        peerAbsent_ = true;
    } else if (mode_ == Tcp) {
        CAutoLockMutex lock(mu_);
        platform::IoClose(line_);
        line_ = platform::kNoHandle;
    }
}

void SimLine::Cut(bool reset) {
    if (onGone_) onGone_();
    if (mode_ == Pty) {
        std::string slave;
        int fresh = platform::PtyOpenMaster(&slave);
        {
            CAutoLockMutex lock(mu_);
            // The link points at the fresh pty before the old one is closed
            // (see Close).
            if (fresh != platform::kNoHandle) {
                slavePath_ = slave;
                platform::ReplaceSymlink(slave, linkPath_);
            }
            platform::IoClose(line_);
            line_ = fresh;
            ++hangups_;
        }
        peerAbsent_ = true;
    } else if (mode_ == Tcp) {
        CAutoLockMutex lock(mu_);
        if (reset) platform::TcpAbort(line_);
        else platform::IoClose(line_);
        line_ = platform::kNoHandle;
        ++hangups_;
    }
}

bool SimLine::CloseAfterReply() {
    CAutoLockMutex lock(mu_);
    if (!closeAfterReply_ || mode_ != Tcp || line_ == platform::kNoHandle) return false;
    platform::IoClose(line_);
    line_ = platform::kNoHandle;
    return true;
}

// --- writing ----------------------------------------------------------------

bool SimLine::WriteAll(const char* data, size_t n) {
    size_t done = 0;
    uint64_t stalledSince = 0;
    while (done < n) {
        if (stop_) return false;
        long w = platform::IoWrite(line_, data + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            stalledSince = 0;
            continue;
        }
        if (w < 0) {
            PeerGone();
            return false;
        }
        const uint64_t now = platform::MonotonicMs();
        if (!stalledSince) stalledSince = now;
        if (now - stalledSince >= kWriteStallMs) return false;  // nobody reads
        platform::WaitItem item{line_, platform::kWaitWritable, 0};
        platform::WaitHandles(&item, 1, 20);
    }
    return true;
}

long SimLine::WriteSome(const char* data, size_t n) {
    const long w = platform::IoWrite(line_, data, n);
    if (w < 0) PeerGone();
    return w;
}

double SimLine::ByteUs() const {
    int baud;
    {
        CAutoLockMutex lock(mu_);
        baud = paceBaud_;
    }
    if (baud <= 0) return 0.0;
    return 1e6 * BitsPerByte() / baud;
}

// Start bit, 8 data bits, parity when the framing has it, stop bits.
// Settings that name no parity or stop bits ("", "8", none) count as 8N1.
int SimLine::BitsPerByte() const {
    const std::string framing = desc_ && desc_->line ? desc_->line : "8N1";
    const bool parity = framing.size() > 1 && framing[1] != 'N';
    const int stopBits = framing.size() > 2 && framing[2] == '2' ? 2 : 1;
    return 1 + 8 + (parity ? 1 : 0) + stopBits;
}

double SimLine::NowUs() {
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

void SimLine::ByteReceived(double byteUs) {
    if (byteUs > 0) rxDoneUs_ = std::max(NowUs(), rxDoneUs_) + byteUs;
}

// Bytes handed to the line as a UART would finish them: byte i at (i + 1)
// byte times after the start.
bool SimLine::SendPaced(const std::string& bytes, double byteUs) {
    // An answer starts once the request would have arrived in full.
    const double start = std::max(NowUs(), rxDoneUs_);
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (stop_) return false;
        // The start may lie ahead (the request is still "on the wire").
        const double elapsed = std::max(0.0, NowUs() - start);
        const size_t due = std::min(bytes.size(), static_cast<size_t>(elapsed / byteUs));
        if (due > sent) {
            if (!WriteAll(bytes.data() + sent, due - sent)) return false;
            sent = due;
            continue;
        }
        const double waitUs = static_cast<double>(sent + 1) * byteUs - elapsed;
        const unsigned ms = waitUs >= 2000.0 ? static_cast<unsigned>(waitUs / 1000.0) : 1u;
        if (Pause(ms)) return false;
    }
    return true;
}

bool SimLine::Send(const std::string& bytes, int slowMs) {
    if (bytes.empty()) return true;
    if (slowMs <= 0) {
        const double byteUs = ByteUs();
        return byteUs > 0 ? SendPaced(bytes, byteUs) : WriteAll(bytes.data(), bytes.size());
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!WriteAll(bytes.data() + i, 1)) return false;
        if (i + 1 < bytes.size() && Pause(static_cast<unsigned>(slowMs))) return false;
    }
    return true;
}

std::string SimLine::NoiseStep() {
    Fault f;
    int param;
    GetFault(&f, &param);
    if (f != Fault::Noise || !StreamPeerReady()) {
        noiseFromUs_ = 0;
        return std::string();
    }
    double byteUs = ByteUs();
    if (byteUs <= 0) byteUs = 1e6 * BitsPerByte() / (param > 0 ? param : kDefaultNoiseBaud);
    const double now = NowUs();
    if (noiseFromUs_ <= 0) {
        noiseFromUs_ = now;
        return std::string();
    }
    const size_t due = static_cast<size_t>((now - noiseFromUs_) / byteUs);
    if (due == 0) return std::string();
    noiseFromUs_ += static_cast<double>(due) * byteUs;
    std::string bytes(std::min(due, kNoiseChunkLimit), '\0');
    if (!platform::RandomBytes(&bytes[0], bytes.size())) {
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(now * 7 + i * 131);
    }
    const long w = WriteSome(bytes.data(), bytes.size());
    if (w <= 0) return std::string();
    bytes.resize(static_cast<size_t>(w));
    return bytes;
}

// --- stopping ---------------------------------------------------------------

void SimLine::RequestStop() {
    stop_ = true;
    stopEvent_.Signal();
}

void SimLine::ClearStop() {
    stop_ = false;
    stopEvent_.Wait(0);  // forget a stop of an earlier run
}

bool SimLine::Pause(unsigned ms) { return stopEvent_.Wait(ms) || stop_; }

}  // namespace sim

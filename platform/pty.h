// Pseudo-terminals, loopback TCP servers and non-blocking descriptor I/O for
// the scale simulator and for tests that play the client side of a line.
// POSIX only: the simulator is not built for Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Handles are file descriptors; -1 means "none".
constexpr int kNoHandle = -1;

// Opens a new pseudo-terminal and returns its master (non-blocking,
// close-on-exec), or kNoHandle. `slavePath` receives the slave's path. The
// slave is opened and closed once so that the master reports a hang-up until
// a client opens it; its terminal settings are left at the system default
// (canonical, echo), so a client must switch the line to raw mode itself.
// Never call terminal-setting functions on the master: on Linux they act on
// the slave.
int PtyOpenMaster(std::string* slavePath);

// True while some client holds the slave of this master open.
bool PtyPeerOpen(int master);
// True when the slave is in canonical mode or echoes input (the default
// cooked line); read through the master.
bool PtyPeerCooked(int master);

// Opens a terminal device as a client would: read/write, not as the
// controlling terminal, non-blocking; its settings are left untouched.
int TtyOpen(const std::string& path);
// Holds an open line as the driver holds a port (flock): another opener that
// asks for it, such as a driver of a test beside this one reopening a pty
// number the system has since given to this line, is refused rather than
// handed its bytes.
bool TtyHoldExclusively(int handle);
// Raw 8-bit line: no echo, no canonical input, no CR/LF translation, no
// software flow control, no output processing; reads never wait.
bool TtySetRaw(int handle);
// True when the line is in canonical mode or echoes input.
bool TtyIsCooked(int handle);

// Listening socket on 127.0.0.1 (`port` 0 picks a free one), non-blocking.
// `boundPort` receives the port actually bound.
int TcpListen(uint16_t port, uint16_t* boundPort);
// Accepts one pending connection (non-blocking, no Nagle delay), or
// kNoHandle when none is waiting.
int TcpAccept(int listener);
// Client connection to 127.0.0.1:`port` within `timeoutMs`, non-blocking
// once connected; kNoHandle on failure.
int TcpConnect(uint16_t port, int timeoutMs);

// Non-blocking reads and writes on any handle above.
constexpr long kIoClosed = -1;  // the other side went away (EOF, EIO, reset)
constexpr long kIoError = -2;   // any other failure
// Bytes read (> 0), 0 when nothing is waiting, kIoClosed or kIoError.
long IoRead(int handle, void* buf, size_t size);
// Bytes written (0 when the line would block), kIoClosed or kIoError.
// Never raises SIGPIPE.
long IoWrite(int handle, const void* data, size_t size);
void IoClose(int handle);
// Closes a TCP connection with a reset (SO_LINGER 0) instead of an orderly
// end: the peer's next read or write fails at once.
void TcpAbort(int handle);

// Readiness wait over several handles.
enum WaitBits { kWaitReadable = 1, kWaitWritable = 2, kWaitHangUp = 4, kWaitError = 8 };
struct WaitItem {
    int handle;  // kNoHandle entries are skipped
    int want;    // kWaitReadable and/or kWaitWritable
    int got;     // filled in: any WaitBits
};
// Waits up to `timeoutMs` (0 = just look, negative = no bound) until some
// item is ready. Returns the number of ready items, 0 on time-out, -1 on
// failure. Interrupted waits are resumed with the remaining time.
int WaitHandles(WaitItem* items, size_t count, int timeoutMs);

// A self-pipe that makes a WaitHandles call return: include Handle() as a
// readable item; Drain() after it fired.
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    bool Valid() const { return read_ != kNoHandle; }
    int Handle() const { return read_; }
    void Signal();
    void Drain();

private:
    int read_ = kNoHandle;
    int write_ = kNoHandle;
};

// A fresh directory only this user can enter, under the system's temporary
// directory: "<tmp>/<prefix>XXXXXX". Returns its path or "" on failure.
std::string MakePrivateTempDir(const std::string& prefix);
// Points `link` at `target`, replacing any existing link atomically.
bool ReplaceSymlink(const std::string& target, const std::string& link);
// Where the symbolic link `link` points, or "" when it is none.
std::string ReadSymlink(const std::string& link);
// Removes a file, symbolic link or empty directory.
bool RemovePath(const std::string& path);

// The process's standard input, for WaitHandles and IoRead.
int StdinHandle();

}  // namespace platform

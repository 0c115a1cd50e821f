#include "scales/listener/EventProtocol.h"

#include <algorithm>
#include <cstring>

namespace zel {
namespace listener {

const char* VerdictName(EventVerdict verdict) {
    switch (verdict) {
        case EventVerdict::kReading: return "reading";
        case EventVerdict::kWithheld: return "withheld";
        case EventVerdict::kIncomplete: return "incomplete";
        case EventVerdict::kResync: return "resync";
        case EventVerdict::kDropped: return "dropped";
        case EventVerdict::kNoNumber: return "no number";
    }
    return "?";
}

int ReadStartToEnd(exchange::IByteLine& line, const EventProtocol& protocol, uint8_t* frame, int capacity,
                   ReadClock& clock, const std::function<bool()>& stop) {
    const int room = std::max(0, std::min(capacity, protocol.length));
    if (room > 0) std::memset(frame, 0, static_cast<size_t>(room));
    int count = 0;
    while (count < room && clock.budgetMs > 0) {
        uint8_t b = 0;
        if (line.Read(&b, 1) > 0) {
            if (count > 0 || b == protocol.start) {
                frame[count++] = b;
                if (b == protocol.end) break;
            } else {
                // Not a frame start: dropped, and it costs a whole step.
                line.Sleep(protocol.droppedByteMs);
                clock.budgetMs -= static_cast<int>(protocol.droppedByteMs);
            }
        } else if (!WaitForFrameBytes(line, clock, count > 0)) {
            break;
        }
        if (stop && stop()) break;
    }
    return count;
}

std::vector<EventFrame> ReadEventFrames(const EventProtocol& protocol, const uint8_t* bytes, size_t count,
                                        const std::vector<size_t>& bursts) {
    std::vector<EventFrame> frames;
    if (!protocol.judge || protocol.length <= 0 || (!bytes && count > 0)) return frames;
    // Edges where a read that holds bytes runs out of budget. A read that
    // holds none idles over a silence and starts a whole budget when bytes
    // come again.
    auto edge = [&bursts](size_t at) { return std::binary_search(bursts.begin(), bursts.end(), at); };
    std::vector<uint8_t> frame(static_cast<size_t>(std::max(protocol.length, kMaxFrame)), 0);
    const int length = std::min(protocol.length, static_cast<int>(frame.size()));
    size_t pos = 0;        // the next byte the line hands over
    int held = 0;          // bytes of a refused frame that begin the next read
    size_t heldStart = 0;  // where they were in `bytes`
    while (pos < count || held > 0) {
        int n = 0;
        size_t start = pos;
        if (protocol.read == FrameRead::kFixed) {
            n = held;
            start = held > 0 ? heldStart : pos;
            while (n < length && pos < count && !(n > 0 && edge(pos))) frame[static_cast<size_t>(n++)] = bytes[pos++];
        } else {
            std::fill(frame.begin(), frame.end(), 0);
            int budget = static_cast<int>(kReadBudgetMs);
            while (n < length && budget > 0 && pos < count) {
                if (edge(pos)) {
                    if (n > 0) break;
                    budget = static_cast<int>(kReadBudgetMs);
                }
                const uint8_t b = bytes[pos++];
                if (n > 0 || b == protocol.start) {
                    if (n == 0) start = pos - 1;
                    frame[static_cast<size_t>(n++)] = b;
                    if (b == protocol.end) break;
                } else {
                    budget -= static_cast<int>(protocol.droppedByteMs);
                }
            }
        }
        held = 0;
        if (n == 0) continue;  // dropped bytes only
        EventFrame f{start, start + static_cast<size_t>(n), protocol.judge(frame.data(), n)};
        if (f.judgement.verdict == EventVerdict::kResync && n > 1 && protocol.read == FrameRead::kFixed) {
            const int next = protocol.nextStart ? protocol.nextStart(frame.data(), n) : n;
            const int s = std::max(1, std::min(next, n));
            held = n - s;
            heldStart = start + static_cast<size_t>(s);
            if (held > 0) std::memmove(frame.data(), frame.data() + s, static_cast<size_t>(held));
        }
        frames.push_back(std::move(f));
    }
    return frames;
}

}  // namespace listener
}  // namespace zel

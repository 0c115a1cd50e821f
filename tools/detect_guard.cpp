// The guard of the scan: the command table of every model and the search
// for a command in what the scan would send.
#include <algorithm>
#include <string>

#include "core/Crc.h"
#include "devices/ModelTable.h"
#include "tools/detect_plan.h"
#include "tools/detect_tables.h"

namespace zelscales {
namespace detect {

using zel::LineVariant;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using namespace tables;

// --- commands ---------------------------------------------------------------

// The commands of every model, as the driver's own classes write them; a
// pattern several models share is one entry with all of them as owners.
const std::vector<CommandPattern>& CommandPatterns() {
    static const std::vector<CommandPattern> patterns = [] {
        std::vector<CommandPattern> out;
        size_t count = 0;
        const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
        for (size_t i = 0; i < count; ++i) {
            for (const zel::exchange::CommandPattern& c : zel::devices::CommandsOf(rows[i].number)) {
                auto same = std::find_if(out.begin(), out.end(), [&](const CommandPattern& p) {
                    return p.bytes == c.bytes && std::string(p.what) == c.what;
                });
                if (same == out.end()) out.push_back(CommandPattern{{rows[i].number}, c.what, c.bytes});
                else same->owners.push_back(rows[i].number);
            }
        }
        return out;
    }();
    return patterns;
}

namespace {

bool MatchesAt(const std::string& s, size_t at, const std::vector<int>& bytes) {
    if (at + bytes.size() > s.size()) return false;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] >= 0 && static_cast<unsigned char>(s[at + i]) != bytes[i]) return false;
    return true;
}

// True when [at, at+length) lies inside an occurrence of a read request of
// one of `owners`.
bool InsideOwnRequest(const std::string& s, size_t at, size_t length, const std::vector<int>& owners) {
    for (int owner : owners) {
        const Polled* p = FindPolled(owner);
        if (!p) continue;
        const std::string request = RequestOf(*p->protocol);
        if (request.size() < length) continue;
        // Occurrences of the request that could cover [at, at+length).
        const size_t lowest = at + length >= request.size() ? at + length - request.size() : 0;
        for (size_t start = lowest; start <= at; ++start)
            if (s.compare(start, request.size(), request) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<CommandHit> FindCommands(const std::string& s, size_t from) {
    std::vector<CommandHit> hits;
    for (const CommandPattern& p : CommandPatterns()) {
        const size_t first = from >= p.bytes.size() ? from - p.bytes.size() + 1 : 0;
        for (size_t at = first; at + p.bytes.size() <= s.size(); ++at) {
            if (!MatchesAt(s, at, p.bytes)) continue;
            if (InsideOwnRequest(s, at, p.bytes.size(), p.owners)) continue;
            // "model 35's tare", "models 40/41's zero"
            hits.push_back(CommandHit{at, p.bytes.size(),
                                      (p.owners.size() == 1 ? "model " : "models ") + GroupName(p.owners) + "'s " +
                                          p.what});
        }
    }
    // Modbus writes to any slave: single coil/register (8 bytes) and
    // multiple coils/registers (7 bytes, the data, the CRC).
    const uint8_t* b = reinterpret_cast<const uint8_t*>(s.data());
    const size_t longest = 9 + 255;
    for (size_t at = from > longest ? from - longest : 0; at + 8 <= s.size(); ++at) {
        const uint8_t function = b[at + 1];
        size_t length = 0;
        if (function == 0x05 || function == 0x06) length = 8;
        else if ((function == 0x0F || function == 0x10) && at + 7 <= s.size()) length = 9 + b[at + 6];
        if (length == 0 || at + length > s.size() || at + length <= from) continue;
        if (zel::Crc16ModbusHolds(b + at, length))
            hits.push_back(CommandHit{at, length, "Modbus write"});
    }
    return hits;
}

}  // namespace detect
}  // namespace zelscales

// The models as the scan sees them, from the model table: the polled ones
// with their protocol descriptions, and the ones that push readings with
// theirs. Shared by the plan, the guard and the judging; nothing here is
// part of the tool's interface.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/Line.h"
#include "scales/exchange/PolledProtocol.h"
#include "scales/listener/EventProtocol.h"

namespace zelscales {
namespace detect {
namespace tables {

struct Polled {
    int model;
    zel::LineVariant line;
    const zel::exchange::PolledProtocol* protocol;
};

// Every polled model the factory builds, in table order.
const std::vector<Polled>& PolledModels();
const Polled* FindPolled(int model);
std::string RequestOf(const zel::exchange::PolledProtocol& p);

// Scales that push readings (an event description on their row), with the
// framing they use.
struct Pusher {
    int model;
    zel::LineVariant line;
    const zel::listener::EventProtocol* events;
};
const std::vector<Pusher>& Pushers();
const Pusher* FindPusher(int model);

// The models that talk without being asked (streaming polled models and the
// pushers), and their framings.
std::vector<std::pair<int, zel::LineVariant>> Talkers();

// "05 0D" for messages.
std::string Hex(const std::string& bytes);

}  // namespace tables
}  // namespace detect
}  // namespace zelscales

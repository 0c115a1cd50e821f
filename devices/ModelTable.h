// The one table of scale models: every fact about a model that is not its
// wire protocol. The factory, the command-line tool's model list and the
// models reference all read it; a test holds it against the setup form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/Line.h"
#include "scales/exchange/Commands.h"
#include "scales/exchange/PolledScale.h"
#include "scales/listener/EventProtocol.h"

class IScalesObject;

namespace zel {
namespace devices {

enum class ModelKind : uint8_t {
    kPolled,    // the driver asks, the scale answers (or talks all the time)
    kListener,  // the scale pushes readings; they arrive as platform events
    kEmulator,  // no line at all
    kReserved,  // a placeholder of the setup form: creates nothing
};

// What a polled model's reply carries that tells a damaged frame from a good
// one (the driver refuses a frame whose check fails):
//   kCrc, kXor       a check value over the frame; every single changed byte
//                    is caught;
//   kXorHeld         an XOR that some scales of the family send and others
//                    do not: once two frames on an open line carried it, a
//                    frame whose check fails is refused; until then (and in
//                    a frame judged on its own) it is checked only where the
//                    frame shows one;
//   kStructure       fixed bytes, terminators or digit positions only: a
//                    changed digit reads as another weight;
//   kLength          nothing but the number of bytes: any content is taken.
enum class FrameCheck : uint8_t {
    kNone,  // no polled reply (event-driven, emulator, placeholder)
    kCrc,
    kXor,
    kXorHeld,
    kStructure,
    kLength,
};

// The platform's commands a model may take.
enum class Command : uint8_t { kTare, kZero, kPrice };

// What becomes of one of them:
//   kNotTaken     the call answers 5 and touches nothing;
//   kUnconfirmed  written to the scale (or flagged for its listener), and
//                 nothing comes back that says it was carried out;
//   kConfirmed    the scale's reply confirms it (the emulator: done at once);
//   kNotSent      the call succeeds, but nothing of it reaches the scale.
enum class Delivery : uint8_t {
    kNotTaken,
    kUnconfirmed,
    kConfirmed,
    kNotSent,
};

// What a model's own class takes that its row does not bind (the emulator's
// commands, the IQ plus's price selector), and the patterns of what it
// writes for them.
struct ClassCommands {
    Delivery tare = Delivery::kNotTaken;
    Delivery zero = Delivery::kNotTaken;
    Delivery price = Delivery::kNotTaken;
    exchange::CommandList (*patterns)() = nullptr;
};

// What the price and cost of a reading are in (GetWeightPriceCost):
//   kNone        the reading carries none (0.0);
//   kUnits       currency units (12.50);
//   kHundredths  hundredths of the currency unit (1250);
//   kAsSent      the scale's own integers, unscaled.
enum class Money : uint8_t {
    kNone,
    kUnits,
    kHundredths,
    kAsSent,
};

struct ModelInfo {
    int number = -1;
    const char* className = "";  // "" for a placeholder
    const char* caption = "";    // UTF-8, as the setup form lists it
    ModelKind kind = ModelKind::kReserved;
    LineVariant line = LineVariant::k8N1;  // serial framing (8 data bits always)
    // The weight as the driver delivers it (before the device coefficient),
    // and the coefficient that turns it into kilograms when the scale shows
    // kilograms with three decimals.
    const char* unit = "kg";
    double toKilograms = 1.0;
    FrameCheck frameCheck = FrameCheck::kNone;  // polled models: what the reply's format checks
    Money money = Money::kNone;  // the unit of a reading's price and cost
    // A polled model: its wire description and the commands its object
    // sends for Tare and Zero and builds for SendPrice (static lifetime).
    // What becomes of each follows from it: a command that reads the
    // scale's reply is confirmed, any other unconfirmed.
    const exchange::PolledProtocol* protocol = nullptr;
    const exchange::CommandSpec* tare = nullptr;
    const exchange::CommandSpec* zero = nullptr;
    const exchange::PriceCommand* price = nullptr;
    // The class of a model that behaves otherwise than its row binds, made
    // from the row's binding, and what it takes besides; a polled model
    // without one is a CPolledProtocolScale of the binding.
    IScalesObject* (*create)(const exchange::PolledBinding& binding) = nullptr;
    ClassCommands own = {};
    // An event-driven model's description (static lifetime): its frames, its
    // data line and its commands, and so what becomes of each. The factory
    // runs it in a CEventProtocolScale.
    const listener::EventProtocol* events = nullptr;
    // Whether a reading's stable flag comes from the scale's frame; false
    // where the decoder sets it to a constant (or the format has none).
    bool reportsStable = false;
    // Whether the decoder reads the unit the frame spells (another metric
    // unit converted, pounds and ounces refused); false where the format
    // carries none and the weight is taken in the row's unit.
    bool unitRead = false;
};

// No driver method sends Zero (the platform's additional actions are
// empty), so the zero a model takes never reaches its scale.
const bool kZeroReached = false;

// Models 0..45 in order; `count` receives the number of rows.
const ModelInfo* AllModels(size_t* count);
// The row of a model number, null outside the table.
const ModelInfo* FindModel(int32_t number);
// True when the factory makes an object for the row: a class of its own, a
// polled protocol or an event-driven description.
inline bool IsBuilt(const ModelInfo& row) {
    return row.create != nullptr || (row.kind == ModelKind::kPolled && row.protocol != nullptr) ||
           (row.kind == ModelKind::kListener && row.events != nullptr);
}

// The description of an event-driven model; null for every other kind.
const listener::EventProtocol* EventProtocolOf(int32_t number);

// The wire description of a polled model; null for every other kind.
const exchange::PolledProtocol* PolledProtocolOf(int32_t number);
// What becomes of a command on the model (kNotTaken outside the table).
Delivery DeliveryOf(int32_t number, Command command);
inline bool Takes(int32_t number, Command command) { return DeliveryOf(number, command) != Delivery::kNotTaken; }
// What a model sends besides its read request (tare, zero, price,
// acknowledgements), as its object writes it; empty for a model that sends
// nothing else.
exchange::CommandList CommandsOf(int32_t number);
// The fields of the data line an event-driven model hands the platform with
// each reading (from its description); none for every other kind.
listener::EventLine EventLineOf(int32_t number);

const char* KindName(ModelKind kind);
// "CRC", "XOR", "structure only", "length only"; "-" for kNone.
const char* FrameCheckName(FrameCheck check);
// "confirmed", "unconfirmed", "not sent"; "-" for kNotTaken.
const char* DeliveryName(Delivery delivery);
// "-", "currency units", "hundredths", "as the scale sends".
const char* MoneyName(Money money);

}  // namespace devices
}  // namespace zel

// A new scale object for the model, its serial framing set from the table;
// null for a model without a class (outside 0..41, the placeholders 42..45,
// and models whose protocol is not built).
IScalesObject* CreateScalesObject(int32_t model);

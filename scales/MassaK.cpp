#include "scales/MassaK.h"

#include "core/ResultCodes.h"

namespace zel {
namespace massak {

using exchange::HeaderPolicy;
using exchange::OutputInit;
using exchange::PolledProtocol;
using exchange::Reading;

namespace {
const uint8_t kRequest[] = {0x45};
// The reply is the weight alone: every byte pair is a weight.
const exchange::Field kFields[] = {{0, 2, exchange::ByteClass::kBinary}};
const exchange::FrameLayout kLayout = {kFields, 1};
}  // namespace

bool AcceptsReply(const uint8_t* frame, size_t length) { return frame && length == kReplyLength; }

exchange::Decoded DecodeReply(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kReplyLength) return kNoAnswer;
    int v = frame[0] | frame[1] << 8;
    if (v > 0x7FFF) v -= 0x10000;
    out.weight = static_cast<double>(v);
    out.price = 0.0;
    out.cost = 0.0;
    out.stable = 0;
    return kOk;
}

// Weight, price and cost keep the caller's values until a reply comes, and an
// error raised in the exchange leaves the line as it is.
const PolledProtocol kProtocol = {.request = kRequest,
                                  .requestLength = 1,
                                  .replyMayStartWithRequest = true,
                                  .replyLength = 2,
                                  .budgetMs = 300,
                                  .init = OutputInit::kKeepValuesStable0,
                                  .disconnectOnError = false,
                                  .accepts = AcceptsReply,
                                  .decode = DecodeReply,
                                  .layout = &kLayout};

}  // namespace massak
}  // namespace zel

#include "scales/Cas.h"

#include "core/ResultCodes.h"

namespace zel {
namespace cas {

using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;

namespace {

const size_t kWeightOffset = 4;
const size_t kWeightLength = 7;

// Copies the usable characters of the weight field; with spacesAsZero a space
// becomes '0'. Returns the text length.
size_t WeightText(const uint8_t* frame, bool spacesAsZero, char (&text)[kWeightLength + 1]) {
    size_t w = 0;
    for (size_t i = kWeightOffset; i < kWeightOffset + kWeightLength; ++i) {
        char c = static_cast<char>(frame[i]);
        if ((c >= '0' && c <= '9') || c == '-' || c == '.')
            text[w++] = c;
        else if (spacesAsZero && c == ' ')
            text[w++] = '0';
    }
    text[w] = '\0';
    return w;
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

int32_t Signed32(uint32_t v) {
    // Two's complement without relying on the implementation's conversion.
    return v <= 0x7FFFFFFFu ? static_cast<int32_t>(v) : -static_cast<int32_t>(~v) - 1;
}

const uint8_t kCasRequest[] = {0x05, 0x11};
const uint8_t kLpRequest[] = {0x01, 0x89};

// The status byte gives stability; an 'F' opening the weight field is an
// overload, which reads as weight 0, not stable.
int32_t StatusAndOverload(const uint8_t* frame, Reading& out, int32_t result) {
    out.stable = frame[3] == 'S' ? 1 : 0;
    if (frame[kWeightOffset] == 'F') {
        out.weight = 0.0;
        out.stable = 0;
        return kOverload;
    }
    return result;
}

}  // namespace

bool AcceptsTextFrame(const uint8_t* frame, size_t length) {
    return frame && length == kTextFrameLength && frame[0] == 0x06 && frame[1] == 0x01 && frame[2] == 0x02 &&
           frame[14] == 0x03 && frame[15] == 0x04;
}

exchange::Decoded DecodeCasText(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kTextFrameLength) return kNoAnswer;
    char text[kWeightLength + 1];
    if (WeightText(frame, false, text) > 0) out.weight = ParseNumberText(text);
    return StatusAndOverload(frame, out, kOk);
}

exchange::Decoded DecodeSdl07Text(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kTextFrameLength) return kNoAnswer;
    char text[kWeightLength + 1];
    int32_t result = kOverload;
    if (WeightText(frame, true, text) > 0) {
        out.weight = ParseNumberText(text);
        result = kOk;
    }
    return StatusAndOverload(frame, out, result);
}

bool AcceptsLpFrame(const uint8_t* frame, size_t length) {
    return frame && length == kLpFrameLength && frame[0] == 0x01 && frame[1] == 0x80 && frame[2] == 0xAA;
}

exchange::Decoded DecodeLp16(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kLpFrameLength) return kNoAnswer;
    const uint8_t status = frame[3];
    if (status & 0x01) return kOverload;
    double magnitude = static_cast<double>(frame[4] | frame[5] << 8);
    out.weight = (status & 0x80) ? -magnitude : magnitude;
    out.price = static_cast<double>(Signed32(Le32(frame + 6)));
    out.cost = static_cast<double>(Signed32(Le32(frame + 10)));
    out.stable = (status & 0x40) ? 1 : 0;
    return kOk;
}

const PolledProtocol kCasProtocol = {.request = kCasRequest,
                                     .requestLength = 2,
                                     .splitSend = true,
                                     .replyLength = 16,
                                     .header = {0x06, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .budgetMs = 500,
                                     .attempts = 3,
                                     .accepts = AcceptsTextFrame,
                                     .decode = DecodeCasText};

const PolledProtocol kSdl07Protocol = {.request = kCasRequest,
                                       .requestLength = 2,
                                       .splitSend = true,
                                       .replyLength = 16,
                                       .header = {0x06, 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kStrict,
                                       .budgetMs = 500,
                                       .attempts = 3,
                                       .accepts = AcceptsTextFrame,
                                       .decode = DecodeSdl07Text};

const PolledProtocol kLp16Protocol = {.request = kLpRequest,
                                      .requestLength = 2,
                                      .splitSend = true,
                                      .replyMayStartWithRequest = true,
                                      .replyLength = 18,
                                      .header = {0x01, 0},
                                      .headerCount = 1,
                                      .policy = HeaderPolicy::kStrict,
                                      .budgetMs = 500,
                                      .attempts = 3,
                                      .accepts = AcceptsLpFrame,
                                      .decode = DecodeLp16};

}  // namespace cas
}  // namespace zel

#include "scales/Mirvesov.h"

#include <cmath>

#include "core/ResultCodes.h"
#include "core/Text.h"

namespace zel {
namespace mirvesov {

using exchange::CommandSpec;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;

namespace {

const uint8_t kStx = 0x02;
const uint8_t kEtx = 0x03;
const uint8_t kCr = 0x0D;
const uint8_t kLf = 0x0A;

const uint8_t kA9Request[] = {0x02, 0x40, 0x44, 0x00, 0x04, 0x03};
const uint8_t kDs2Request[] = {0x02, 0x41, 0x44, 0x30, 0x35, 0x03};  // the K9 is asked alike
const uint8_t kA12Request[] = {'R'};
const uint8_t kA12TareByte[] = {'T'};
const uint8_t kA12ZeroByte[] = {'Z'};

// 'D' frame: sign at 3, weight field at 4..10.
const size_t kDSign = 3;
const size_t kDField = 4;
const size_t kDFieldLength = 7;

// А12EH status bits.
const uint8_t kA12ehNegative = 0x02;
const uint8_t kA12ehInvalid = 0x04;
const uint8_t kA12ehMoving = 0x08;

// True when frame[from .. to] are all printable characters.
bool PrintableField(const uint8_t* frame, size_t from, size_t to) {
    for (size_t i = from; i <= to; ++i)
        if (frame[i] < 0x20 || frame[i] > 0x7E) return false;
    return true;
}

// Byte kinds of the streamed frames beyond their own checks: the weight
// (and sign) positions hold characters, never a line-control byte or the
// next frame's header.
bool A12ehKinds(const uint8_t* frame, size_t length) {
    return frame && length == kA12ehFrameLength && PrintableField(frame, 4, 9);
}

bool A9ContinKinds(const uint8_t* frame, size_t length) {
    return frame && length == kA9ContinFrameLength && PrintableField(frame, 1, 7);
}

const exchange::StreamFraming kA12ehStream = {.kinds = A12ehKinds};
const exchange::StreamFraming kA9ContinStream = {.kinds = A9ContinKinds};

// value / 10^decimals: dividing keeps the result the double nearest to the
// decimal the scale shows, which multiplying by 0.1 or 0.001 does not.
double Shifted(double value, int decimals) {
    static const double kPowers[] = {1.0, 10.0, 100.0, 1000.0, 10000.0};
    return decimals > 0 && decimals <= 4 ? value / kPowers[decimals] : value;
}

}  // namespace

bool AcceptsDFrame(const uint8_t* frame, size_t length) {
    return frame && length == kDFrameLength && frame[0] == kStx && frame[2] == 'D' && frame[13] == kEtx;
}

exchange::Decoded DecodeA9(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kDFrameLength) return kNoAnswer;
    char digits[7];
    size_t n = 0;
    for (size_t i = kDField; i <= 9 && IsDigit(frame[i]); ++i) digits[n++] = static_cast<char>(frame[i]);
    digits[n] = '\0';
    double factor = 1.0;
    switch (frame[10]) {
        case '0': factor = 1000.0; break;
        case '1': factor = 100.0; break;
        case '2': factor = 10.0; break;
        default: break;
    }
    out.weight = Negated(WholeTowardZero(ParseNumberText(digits) * factor), frame[kDSign] == '-');
    out.stable = 0;
    return kOk;
}

exchange::Decoded DecodeDs2(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kDFrameLength) return kNoAnswer;
    char digits[kDFieldLength + 1];
    size_t n = 0;
    for (size_t i = kDField; i < kDField + kDFieldLength; ++i) {
        const uint8_t b = frame[i];
        if (IsDigit(b))
            digits[n++] = static_cast<char>(b);
        else if (b != '.')
            break;
    }
    digits[n] = '\0';
    const double value = n >= 2 ? WholeTowardZero(ParseNumberText(digits) * 1000.0) : 0.0;
    out.weight = Negated(value, frame[kDSign] == '-');
    out.stable = 0;
    return kOk;
}

exchange::Decoded DecodeK9(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kDFrameLength) return kNoAnswer;
    char text[kDFieldLength + 1];
    FieldText(frame, kDField, kDFieldLength, text);
    out.weight = Negated(ParseNumberText(text), frame[kDSign] == '-');
    out.stable = 0;
    return kOk;
}

bool AcceptsA12Reply(const uint8_t* frame, size_t length) {
    return frame && length == kA12ReplyLength && frame[0] == 'w' && frame[11] == kCr && frame[12] == kLf;
}

exchange::Decoded DecodeA12(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kA12ReplyLength) return kNoAnswer;
    char text[10];
    FieldText(frame, 2, 9, text);
    out.weight = WholeTowardZero(ParseNumberText(text) * 1000.0);
    if (out.weight == 0.0) out.weight = 0.0;  // no minus zero
    out.stable = 1;
    return kOk;
}

bool AcceptsA12ehFrame(const uint8_t* frame, size_t length) {
    return frame && length == kA12ehFrameLength && frame[0] == kStx && frame[16] == kCr;
}

exchange::Decoded DecodeA12eh(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kA12ehFrameLength) return kNoAnswer;
    const uint8_t status = frame[2];
    if (status & kA12ehInvalid) {
        out.weight = 0.0;
        out.stable = 0;
        return kOk;
    }
    char digits[7];
    size_t n = 0;
    for (size_t i = 4; i <= 9; ++i) {
        if (IsDigit(frame[i])) digits[n++] = static_cast<char>(frame[i]);
    }
    digits[n] = '\0';
    int decimals = 0;
    switch (frame[1] & 0x7F) {
        case 0x2B: decimals = 1; break;
        case 0x2C: decimals = 2; break;
        case 0x2D: decimals = 3; break;
        case 0x2E: decimals = 4; break;
        default: break;
    }
    out.weight = Shifted(Negated(ParseNumberText(digits), (status & kA12ehNegative) != 0), decimals);
    out.stable = (status & kA12ehMoving) ? 0 : 1;
    return kOk;
}

bool AcceptsA9ContinFrame(const uint8_t* frame, size_t length) {
    return frame && length == kA9ContinFrameLength && frame[0] == kStx && frame[11] == kEtx;
}

exchange::Decoded DecodeA9Contin(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kA9ContinFrameLength) return kNoAnswer;
    char text[7];
    FieldText(frame, 2, 6, text);
    const uint8_t code = frame[8];
    const int decimals = code >= '1' && code <= '4' ? code - '0' : 0;
    out.weight = Shifted(Negated(ParseNumberText(text), frame[1] == '-'), decimals);
    out.stable = 0;
    return kOk;
}

const PolledProtocol kA9Protocol = {.request = kA9Request,
                                    .requestLength = 6,
                                    .replyLength = 14,
                                    .header = {kStx, 0},
                                    .headerCount = 1,
                                    .policy = HeaderPolicy::kStrict,
                                    .accepts = AcceptsDFrame,
                                    .decode = DecodeA9};

const PolledProtocol kA12Protocol = {.request = kA12Request,
                                     .requestLength = 1,
                                     .replyLength = 13,
                                     .header = {'w', 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsA12Reply,
                                     .decode = DecodeA12};

const PolledProtocol kDs2Protocol = {.request = kDs2Request,
                                     .requestLength = 6,
                                     .replyLength = 14,
                                     .header = {kStx, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsDFrame,
                                     .decode = DecodeDs2};

const PolledProtocol kK9Protocol = {.request = kDs2Request,
                                    .requestLength = 6,
                                    .replyLength = 14,
                                    .header = {kStx, 0},
                                    .headerCount = 1,
                                    .policy = HeaderPolicy::kStrict,
                                    .accepts = AcceptsDFrame,
                                    .decode = DecodeK9};

// The status byte of a negative А12EH reading is 02, the header's value: the
// stream's framing refuses a window that starts there.
const PolledProtocol kA12ehProtocol = {.replyLength = 17,
                                       .header = {kStx, 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kHunted,
                                       .accepts = AcceptsA12ehFrame,
                                       .decode = DecodeA12eh,
                                       .stream = &kA12ehStream};

const PolledProtocol kA9ContinProtocol = {.replyLength = 12,
                                          .header = {kStx, 0},
                                          .headerCount = 1,
                                          .policy = HeaderPolicy::kHunted,
                                          .accepts = AcceptsA9ContinFrame,
                                          .decode = DecodeA9Contin,
                                          .stream = &kA9ContinStream};

const CommandSpec kA12Tare = {.bytes = kA12TareByte, .length = 1, .pauseMs = 0};
const CommandSpec kA12Zero = {.bytes = kA12ZeroByte, .length = 1, .pauseMs = 0};

}  // namespace mirvesov
}  // namespace zel

// Event-driven scale frames from arbitrary bytes: every decoder, data line
// and window-message value must stay defined whatever the scale sends.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scales/listener/ListenerScale.h"
#include "scales/listener/Vn220Events.h"
#include "scales/listener/VnaCiEvents.h"
#include "scales/listener/Vta60Events.h"

namespace {

void CheckLine(const std::string& line) {
    if (line.size() >= 500) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t frame[32] = {};
    std::memcpy(frame, data, size < sizeof frame ? size : sizeof frame);
    double coeff = 1.0;
    if (size >= sizeof frame + sizeof coeff) std::memcpy(&coeff, data + sizeof frame, sizeof coeff);
    const char* id = "A1";

    double kg = zel::vn220::Vn220WeightKg(frame) * coeff;
    CheckLine(zel::vn220::Vn220Line(kg, id));
    (void)zel::listener::WeightMessageParam(kg);

    double raw = static_cast<double>(zel::vn220::TaraRawWeight(frame)) * coeff;
    double tare = zel::vn220::TaraRawTare(frame, static_cast<int>(size % 15)) * coeff;
    CheckLine(zel::vn220::TaraLine(raw, tare, id));
    (void)zel::listener::TareMessageParam(tare);

    int32_t tareValue = 0;
    std::memcpy(&tareValue, frame + 8, sizeof tareValue);
    uint8_t command[zel::vn220::kTareCommandLength];
    zel::vn220::BuildTareCommand(zel::vn220::TareInScaleUnits(tareValue, coeff), command);
    if (command[0] != 0x3C || command[6] != 0x3E) std::abort();

    // Where a refused frame goes on: always inside the bytes held, past byte 0.
    const int held = static_cast<int>(size < sizeof frame ? size : sizeof frame);
    (void)zel::vn220::TaraFrameOk(frame, held);
    (void)zel::vta60::DigitFrameOk(frame);
    if (held > 0) {
        for (int start : {zel::vn220::NextFrameStart(frame, held), zel::vta60::TextFrameNextStart(frame, held)})
            if (start < 1 || start > held) std::abort();
    }

    if (zel::vta60::TextFrameOk(frame)) CheckLine(zel::vta60::TextFrameLine(frame));
    zel::vta60::DigitReading r = zel::vta60::DecodeDigitFrame(frame);
    CheckLine(zel::vta60::DigitFrameLine(r.grams / 1000.0 * coeff, r.price / 100.0, r.cost / 100.0, id));
    uint8_t price[zel::vta60::kPriceCommandLength];
    zel::vta60::BuildVtaPriceCommand(tareValue, price);

    // The scanner scale: a frame of up to 50 bytes with its text.
    uint8_t line[64] = {};
    const int count = static_cast<int>(size < 50 ? size : 50);
    std::memcpy(line, data, static_cast<size_t>(count));
    if (zel::vnaci::FrameOk(line, count)) {
        const double scanned = zel::vnaci::FrameWeightKg(line) * coeff;
        CheckLine(zel::vnaci::VnaCiLine(scanned, id, zel::vnaci::FrameText(line, count)));
        (void)zel::listener::WeightMessageParam(scanned);
    }
    return 0;
}

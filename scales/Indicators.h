// Weighing indicators asked with a short command and answering with a
// fixed-length reply: Техноваги TBE (model 2) and TB1/TB4 (3), Промприбор
// ВН-220 unit ІЕ03 on request (4), Axis (9), IQ plus 355 (24) and ESIT ECI
// STATIC (37). All on 8N1; each takes a tare command (written once, then a
// 150 ms pause); none takes zero; only the IQ plus takes SendPrice, as a
// selector of three indicator commands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Commands.h"
#include "scales/exchange/Fields.h"
#include "scales/exchange/PolledScale.h"

namespace zel {
namespace indicators {

// --- weight texts with a unit, shared with the ASCII indicators -------------

// Reads the weight text of an indicator: the number under `grammar`
// (kTrailingPad is added where a unit follows), then perhaps spaces and the
// unit's letters, then only spaces. `unit` is kUnknown when the text names
// none. A unit of one letter right after a digit ("1.23g") is refused: a
// digit damaged into a letter must not read as a unit. Null on success;
// otherwise the why of the refusal (kWhyNoNumber: no number, or anything
// beside it the grammar does not allow; kWhyUnknownUnit: letters that are
// no unit).
const char* ReadWeightText(const uint8_t* text, size_t length, uint8_t grammar, double& value,
                           exchange::Unit& unit);

// True when every '.' and ',' of the text stands between two digits: a
// point that opens or closes the number is a damaged digit ("1.23" and ".234"
// are not "1.234").
bool PointBetweenDigits(const uint8_t* text, size_t length);

// The unit a fixed unit field spells: kUnknown for a field that is blank or
// holds something other than a word of letters (the field is then not read);
// `word` is set when it holds a word of letters, known or not.
exchange::Unit UnitField(const uint8_t* field, size_t length, bool& word);

// `value` shown in `from` (kUnknown: the format's own unit `shown`), in
// `to`. Grams from kilograms or tonnes are whole grams cut toward zero, as
// the displays' thousandths of a kilogram are. False for a unit that is not
// metric (the reading is refused).
bool Deliver(double value, exchange::Unit from, exchange::Unit shown, exchange::Unit to, double& out);

const size_t kTbeReplyLength = 14;
const size_t kTb1ReplyLength = 12;
const size_t kVnOldReplyLength = 7;
const size_t kAxisReplyLength = 16;
const size_t kIqReplyLength = 17;
const size_t kEsitReplyLength = 12;

// The ВН-220 unit's address in its request and tare frames. The unit is
// always addressed as 0.
const uint8_t kVnOldAddress = 0x00;

// TBE: ' ' then the weight text, possibly after spaces and before its unit
// (kilograms when it names none); CR LF at 12 and 13, or CR at 13. The text
// is a number or blank.
bool AcceptsTbe(const uint8_t* frame, size_t length);
// Grams (whole grams from kilograms and tonnes), never stable. A reply of
// nothing but spaces is no reading: 3, and the call asks no more. Pounds,
// ounces and letters that are no unit are refused.
exchange::Decoded DecodeTbe(const uint8_t* frame, size_t length, exchange::Reading& out);

// TB1: 'R', the address "01" the request names, the state letter, the
// weight text from 4; CR at 10 or 11. With the states of a reading ('W',
// 'N') the text is a number, perhaps with its unit.
bool AcceptsTb1(const uint8_t* frame, size_t length);
// Kilograms, never stable. State 'W' weight (a '-' at 4 negates), 'N' the
// weight negated (a sign of its own is refused); 'E' the weight with 1099,
// any other letter 0 with 1099. Another address is refused.
exchange::Decoded DecodeTb1(const uint8_t* frame, size_t length, exchange::Reading& out);

// ВН-220 (ІЕ03): '<', a byte, six packed-decimal digits, status, '>'.
bool AcceptsVnOld(const uint8_t* frame, size_t length);
// Status bit 2 is the stable flag, taken from every complete frame,
// refused or not.
void PeekVnOld(const uint8_t* frame, size_t count, exchange::Reading& out);
// The digits scaled to grams by the decimal-places code (status bits 0-1:
// 0 x1000, 1 x100, 2 x10, 3 x1), negative with status bit 5. Nibbles D and F
// read as 0; A, B, C or E spoil the frame: weight 0, 3, and the line is
// closed (the next call opens it again).
exchange::Decoded DecodeVnOld(const uint8_t* frame, size_t length, exchange::Reading& out);

// Axis: the weight text in 0..9 (its first byte ' ' or '-'), a number
// perhaps followed by its unit; the unit may stand in 10..13 instead (a
// field there that is no word is not read); CR LF at 14.
bool AcceptsAxis(const uint8_t* frame, size_t length);
// Grams, always stable; two units that disagree are refused.
exchange::Decoded DecodeAxis(const uint8_t* frame, size_t length, exchange::Reading& out);

// IQ plus 355: 'X' 'N' CR LF, two weight characters, LF, six weight
// characters, the unit in two bytes, CR LF. The eight weight characters
// hold a number right-aligned among spaces, its sign anywhere before the
// digits.
bool AcceptsIqPlus(const uint8_t* frame, size_t length);
// Kilograms, always stable. The unit bytes are read when they are a word
// of letters (blank or other bytes: kilograms).
exchange::Decoded DecodeIqPlus(const uint8_t* frame, size_t length, exchange::Reading& out);

// ESIT ECI STATIC: the weight text in 0..9 (a number, perhaps with its
// unit), CR LF at 10.
bool AcceptsEsit(const uint8_t* frame, size_t length);
// Kilograms, never stable.
exchange::Decoded DecodeEsit(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kTbeProtocol;
extern const exchange::PolledProtocol kTb1Protocol;
extern const exchange::PolledProtocol kVnOldProtocol;
extern const exchange::PolledProtocol kAxisProtocol;
extern const exchange::PolledProtocol kIqPlusProtocol;
extern const exchange::PolledProtocol kEsitProtocol;

extern const exchange::CommandSpec kTbeTare;
extern const exchange::CommandSpec kTb1Tare;
extern const exchange::CommandSpec kVnOldTare;
extern const exchange::CommandSpec kAxisTare;
extern const exchange::CommandSpec kIqPlusTare;
extern const exchange::CommandSpec kEsitTare;

// The IQ plus command a SendPrice value selects: 12345 STREAM=OFF, 1 EX,
// 2 SX; null for any other value.
const exchange::CommandSpec* IqPlusPriceCommand(int32_t value);
// The three commands behind model 24's SendPrice.
exchange::CommandList IqPlusPriceCommands();
// Sends the selected command (0); a value that selects none writes nothing
// and gives 5, the line connected and released like any command's.
int32_t RunIqPlusPrice(exchange::IByteLine& line, exchange::IExchangeSession& session, int32_t value);

}  // namespace indicators
}  // namespace zel

// Model 24: SendPrice sends no price; its value selects one of three
// indicator commands (IqPlusPriceCommand). Its tare is the row's.
class ScalesIQplus355 : public CPolledProtocolScale {
public:
    explicit ScalesIQplus355(const zel::exchange::PolledBinding& binding) : CPolledProtocolScale(binding) {}

    int32_t SendPrice(int32_t value) override;
};

// The listener in the loaded library and ReadEventFrames read the same byte
// run alike: the readings ReadEventFrames finds, formatted by the model's
// description, are exactly the events the platform receives, in order.
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/listener/EventProtocol.h"
#include "tests/integration/listener_support.h"

using zeltest::Bytes;
using zeltest::Event;
using zeltest::Line;
using zeltest::ListenerRig;

namespace {

struct AgreementCase {
    const char* name;
    int model;
    std::string raw;  // one burst
    size_t readings;  // what ReadEventFrames must find, so an empty run proves nothing
};

const std::string kVn1234 = Bytes({0x3C, 0x00, 0x00, 0x12, 0x34, 0x03, 0x3E});
const std::string kVn2500 = Bytes({0x3C, 0x00, 0x00, 0x25, 0x00, 0x03, 0x3E});
const std::string kVnBlank = Bytes({0x3C, 0x00, 0x01, 0xF3, 0x45, 0x02, 0x3E});
const std::string kTare500 = Bytes({0x3D, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x3E});
const std::string kVta = "  1.234\r  12.50\r  15.43\r\n";
const std::string kDigits = Bytes({4, 3, 2, 1, 0, 0, 0, 5, 5, 2, 0, 0, 7, 4, 1, 3, 0, 0});
const std::string kDigitsBad = Bytes({4, 3, 2, 1, 0, 0, 0, 5, 5, 2, 0, 0, 7, 4, 10, 3, 0, 0});

const AgreementCase kCases[] = {
    {"5 noise, a frame without a number, frames", 5, "\x55" + kVn1234 + kVnBlank + kVn2500, 2},
    {"5 header-valued bytes before a frame", 5, Bytes({0x3C, 0x00, 0x3C, 0x3C, 0x00, 0x12, 0x34, 0x03, 0x3E}) + kVn2500,
     2},
    {"32 a lone weight frame, noise, full frames", 32,
     kVn1234 + kVn2500 + kTare500 + std::string(1, '\0') + kVn1234 + kTare500, 2},
    {"6 noise, dashes, a short frame, frames", 6,
     std::string("xy<001234\x03" "ABC\r") + "<  --  \x02\r" + "<1500\x02\r" + "<001500\x03\r", 2},
    {"15 noise, a field without a number, frames", 15, "X" + kVta + "  1.2a4\r  12.50\r  15.43\r\n" + kVta, 2},
    {"22 a byte above nine, frames", 22, kDigitsBad + kDigits + kDigits, 2},
    {"22 one byte of noise shifts every frame", 22, std::string(1, '\5') + kDigits + kDigits, 2},
};

void PrintTo(const AgreementCase& c, std::ostream* os) { *os << c.name; }

class ListenerAgreement : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(ListenerAgreement, EventsAreTheReadingsReadEventFramesFinds) {
    const AgreementCase& c = GetParam();
    const zel::listener::EventProtocol* protocol = zel::devices::EventProtocolOf(c.model);
    ASSERT_NE(protocol, nullptr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.raw.data());
    std::vector<zel::listener::EventReading> readings;
    for (const auto& f : zel::listener::ReadEventFrames(*protocol, bytes, c.raw.size()))
        if (f.judgement.verdict == zel::listener::EventVerdict::kReading) readings.push_back(f.judgement.reading);
    ASSERT_EQ(readings.size(), c.readings);

    ListenerRig rig(c.model, Line::Pty, "1");  // the coefficient 1 leaves every reading as it is
    ASSERT_TRUE(rig.Settle());
    std::vector<std::string> expected;
    for (const auto& r : readings) expected.push_back(protocol->format(r, rig.id.c_str()).line);
    rig.sim.SendRaw(c.raw);
    std::vector<std::string> got;
    for (const Event& e : rig.Collect(1500)) got.push_back(e.data);
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Runs, ListenerAgreement, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<AgreementCase>& info) {
                             return zeltest::CaseName(info.param.name);
                         });

}  // namespace

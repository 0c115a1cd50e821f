// The model table against what the factory really makes: the class, the
// serial framing handed to it, and the commands it takes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/IScalesObject.h"
#include "scales/exchange/PolledScale.h"
#include "scales/listener/EventProtocolScale.h"

using zel::devices::AllModels;
using zel::devices::ModelInfo;
using zel::devices::ModelKind;

TEST(ModelTable, OneRowPerModelOfTheSetupForm) {
    size_t count = 0;
    const ModelInfo* models = AllModels(&count);
    ASSERT_GT(count, 0u);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(models[i].number, static_cast<int>(i));
        EXPECT_EQ(zel::devices::FindModel(static_cast<int32_t>(i)), &models[i]);
        // The caption starts with the number and a colon.
        EXPECT_EQ(std::string(models[i].caption).rfind(std::to_string(i) + ":", 0), 0u);
        const bool reserved = models[i].className[0] == 0;
        EXPECT_EQ(models[i].kind == ModelKind::kReserved, reserved);
        if (reserved) {
            EXPECT_EQ(models[i].create, nullptr);
        }
    }
    EXPECT_EQ(zel::devices::FindModel(-1), nullptr);
    EXPECT_EQ(zel::devices::FindModel(static_cast<int32_t>(count)), nullptr);
    for (size_t i = 0; i < count; ++i) {
        if (models[i].kind == ModelKind::kReserved) {
            EXPECT_EQ(CreateScalesObject(models[i].number), nullptr) << i;
        }
    }
    EXPECT_EQ(CreateScalesObject(-1), nullptr);
}

// Every model that has a class: the object is of the row's class, carries the
// row's framing, and answers 5 exactly to the commands the row says it lacks.
TEST(ModelTable, FactoryMakesWhatTheRowSays) {
    size_t count = 0;
    const ModelInfo* models = AllModels(&count);
    int built = 0;
    for (size_t i = 0; i < count; ++i) {
        const ModelInfo& m = models[i];
        if (!zel::devices::IsBuilt(m)) continue;
        SCOPED_TRACE(m.number);
        ++built;
        std::unique_ptr<IScalesObject> o(CreateScalesObject(m.number));
        ASSERT_NE(o, nullptr);
        // A polled row without a class of its own makes its protocol's scale;
        // the class name stays the row's text, for the setup form.
        // An event-driven row makes the listener engine of its description.
        if (!m.create && m.kind == ModelKind::kListener) {
            auto* events = dynamic_cast<CEventProtocolScale*>(o.get());
            ASSERT_NE(events, nullptr);
            EXPECT_EQ(&events->Protocol(), m.events);
            EXPECT_EQ(zel::devices::EventProtocolOf(m.number), m.events);
        } else if (m.kind == ModelKind::kPolled) {
            // A class of its own is still the engine bound to the row.
            auto* polled = dynamic_cast<CPolledProtocolScale*>(o.get());
            ASSERT_NE(polled, nullptr);
            EXPECT_EQ(&polled->Protocol(), m.protocol);
        }
        // Itanium names: the length of the name, then the name.
        const std::string mangled = typeid(*o).name();
        const std::string expected = m.create ? std::to_string(std::strlen(m.className)) + m.className
                                     : m.kind == ModelKind::kListener ? std::string("19CEventProtocolScale")
                                                                      : std::string("20CPolledProtocolScale");
        EXPECT_NE(mangled.find(expected), std::string::npos) << mangled;
        EXPECT_TRUE(mangled.size() >= expected.size() &&
                    mangled.compare(mangled.size() - expected.size(), expected.size(), expected) == 0)
            << mangled;
        EXPECT_EQ(o->Line(), m.line);
        // No line is open: a command the model takes fails on the line or
        // is only flagged, never 5.
        using zel::devices::Command;
        EXPECT_EQ(o->Tare(0.0) != 5, zel::devices::Takes(m.number, Command::kTare));
        EXPECT_EQ(o->Zero() != 5, zel::devices::Takes(m.number, Command::kZero));
        EXPECT_EQ(o->SendPrice(1250) != 5, zel::devices::Takes(m.number, Command::kPrice));
        // Only a class of its own takes commands the row does not bind.
        if (!m.create) {
            EXPECT_EQ(m.own.tare, zel::devices::Delivery::kNotTaken);
            EXPECT_EQ(m.own.zero, zel::devices::Delivery::kNotTaken);
            EXPECT_EQ(m.own.price, zel::devices::Delivery::kNotTaken);
            EXPECT_EQ(m.own.patterns, nullptr);
        }
        // An event-driven row binds nothing beside its description.
        if (m.kind == ModelKind::kListener) {
            EXPECT_EQ(m.protocol, nullptr);
            EXPECT_TRUE(m.tare == nullptr && m.zero == nullptr && m.price == nullptr);
            EXPECT_EQ(m.own.tare, zel::devices::Delivery::kNotTaken);
            EXPECT_EQ(m.own.price, zel::devices::Delivery::kNotTaken);
        }
    }
    EXPECT_GE(built, 9);
}

// The table's wire description of each polled model is the one its class
// runs on; other kinds have none.
TEST(ModelTable, PolledRowsReachTheProtocolTheClassRuns) {
    size_t count = 0;
    const ModelInfo* models = AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const zel::exchange::PolledProtocol* p = zel::devices::PolledProtocolOf(models[i].number);
        if (models[i].kind != ModelKind::kPolled) {
            EXPECT_EQ(p, nullptr);
            continue;
        }
        ASSERT_NE(p, nullptr);
        std::unique_ptr<IScalesObject> o(CreateScalesObject(models[i].number));
        auto* polled = dynamic_cast<CPolledProtocolScale*>(o.get());
        ASSERT_NE(polled, nullptr);
        EXPECT_EQ(&polled->Protocol(), p);
    }
}

// The price-and-cost column says what a reading's price is in: a frame
// whose scale shows a price of 12.50, decoded by the row's own protocol,
// reads 12.5 in currency units and 1250 in hundredths or as sent.
TEST(ModelTable, MoneyColumnMatchesWhatTheDecoderReturns) {
    using zel::devices::Money;
    // Digits least significant first (values, or characters with '0'
    // added): 1.234 kg at 12.50 makes 15.42.
    const std::vector<uint8_t> w6 = {4, 3, 2, 1, 0, 0}, p5 = {0, 5, 2, 1, 0}, p6 = {0, 5, 2, 1, 0, 0},
                               c6 = {2, 4, 5, 1, 0, 0};
    auto join = [](std::initializer_list<std::vector<uint8_t>> parts, uint8_t add) {
        std::vector<uint8_t> out;
        for (const auto& part : parts)
            for (uint8_t b : part) out.push_back(static_cast<uint8_t>(b + add));
        return out;
    };
    const std::vector<uint8_t> lp = {0x01, 0x80, 0xAA, 0x40, 0xD2, 0x04, 0xE2, 0x04, 0, 0, 0x06, 0x06, 0, 0, 0, 0, 0, 0};
    const struct {
        int model;
        std::vector<uint8_t> frame;
    } cases[] = {
        {0, join({w6, p6, c6}, 0)},      {17, join({w6, p5, c6}, '0')}, {21, join({w6, p5, c6}, '0')},
        {28, join({w6, p6, c6}, 0)},     {30, join({w6, p6, c6}, '0')}, {14, lp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        const zel::exchange::PolledProtocol* p = zel::devices::PolledProtocolOf(c.model);
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(p->accepts(c.frame.data(), c.frame.size()));
        zel::exchange::Reading r;
        ASSERT_EQ(p->decode(c.frame.data(), c.frame.size(), r).result, 0);
        const Money money = zel::devices::FindModel(c.model)->money;
        ASSERT_NE(money, Money::kNone);
        EXPECT_DOUBLE_EQ(r.price, money == Money::kUnits ? 12.5 : 1250.0);
    }
    // The emulator takes a price in hundredths and reads it back in units.
    std::unique_ptr<IScalesObject> emulator(CreateScalesObject(20));
    ASSERT_EQ(emulator->SendPrice(1250), 0);
    double weight = 0, price = 0, cost = 0;
    int32_t stable = 0;
    ASSERT_EQ(emulator->ReadWeight(weight, price, cost, stable), 0);
    EXPECT_EQ(zel::devices::FindModel(20)->money, Money::kUnits);
    EXPECT_DOUBLE_EQ(price, 12.5);
}

// What becomes of each command, as the README's models reference and the
// tool's messages say it: derived from what each row binds (a command that
// reads the scale's reply is confirmed), an event-driven model's description
// or a class's own list. One letter per command: - not taken,
// u unconfirmed, c confirmed, n not sent.
TEST(ModelTable, DeliveriesFollowWhatTheRowBinds) {
    using zel::devices::Command;
    using zel::devices::Delivery;
    const struct {
        int model;
        const char* tareZeroPrice;
    } cases[] = {
        {0, "u-u"},  {1, "u--"},  {2, "u--"},  {3, "u--"},  {4, "u--"},  {5, "--n"},  {6, "--n"},
        {7, "---"},  {8, "uu-"},  {9, "u--"},  {13, "---"}, {15, "---"}, {16, "-u-"}, {17, "---"},
        {20, "c-c"}, {21, "u-u"}, {22, "u-u"}, {24, "u-u"}, {26, "u--"}, {28, "u-u"}, {30, "u-u"},
        {32, "u-u"}, {35, "u--"}, {37, "u--"}, {40, "cc-"}, {41, "c--"}, {42, "---"}, {99, "---"},
    };
    auto letter = [](Delivery d) {
        switch (d) {
            case Delivery::kUnconfirmed: return 'u';
            case Delivery::kConfirmed: return 'c';
            case Delivery::kNotSent: return 'n';
            default: return '-';
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        const std::string got = {letter(zel::devices::DeliveryOf(c.model, Command::kTare)),
                                 letter(zel::devices::DeliveryOf(c.model, Command::kZero)),
                                 letter(zel::devices::DeliveryOf(c.model, Command::kPrice))};
        EXPECT_EQ(got, c.tareZeroPrice);
    }
}

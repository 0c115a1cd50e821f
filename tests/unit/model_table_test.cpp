// The model table against what the factory really makes: the class, the
// serial framing handed to it, and the commands it takes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>

#include "devices/ModelTable.h"
#include "scales/IScalesObject.h"
#include "scales/exchange/PolledScale.h"

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
    for (size_t i = 0; i < count; ++i)
        if (models[i].kind == ModelKind::kReserved) EXPECT_EQ(CreateScalesObject(models[i].number), nullptr) << i;
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
        if (!m.create) continue;
        SCOPED_TRACE(m.number);
        ++built;
        std::unique_ptr<IScalesObject> o(CreateScalesObject(m.number));
        ASSERT_NE(o, nullptr);
        // Itanium names: the length of the name, then the name.
        const std::string mangled = typeid(*o).name();
        const std::string expected = std::to_string(std::strlen(m.className)) + m.className;
        EXPECT_NE(mangled.find(expected), std::string::npos) << mangled;
        EXPECT_TRUE(mangled.size() >= expected.size() &&
                    mangled.compare(mangled.size() - expected.size(), expected.size(), expected) == 0)
            << mangled;
        EXPECT_EQ(o->Line(), m.line);
        // No line is open: a command the class has fails on the line or is
        // only flagged, never 5.
        EXPECT_EQ(o->Tare(0.0) != 5, m.tare);
        EXPECT_EQ(o->Zero() != 5, m.zero);
        EXPECT_EQ(o->SendPrice(1250) != 5, m.price);
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

// The polled classes as the device table sees them: made by the factory,
// commands they lack refused, a line that cannot open reported.
#include <gtest/gtest.h>

#include "tests/unit/model_rows.h"

#include <memory>

#include "scales/Cas.h"
#include "devices/ModelTable.h"
#include "scales/MassaK.h"

namespace {
bool Runs(IScalesObject* o, const zel::exchange::PolledProtocol& p) {
    auto* polled = dynamic_cast<CPolledProtocolScale*>(o);
    return polled && &polled->Protocol() == &p;
}
}  // namespace

TEST(PolledClasses, FactoryMakesTheClassForEachModel) {
    struct Case {
        int32_t model;
        bool (*is)(IScalesObject*);
    };
    // These only bind their protocol: the row makes them.
    const Case cases[] = {
        {10, [](IScalesObject* o) { return Runs(o, zel::massak::kProtocol); }},
        {13, [](IScalesObject* o) { return Runs(o, zel::cas::kCasProtocol); }},
        {14, [](IScalesObject* o) { return Runs(o, zel::cas::kLp16Protocol); }},
        {27, [](IScalesObject* o) { return Runs(o, zel::cas::kSdl07Protocol); }},
    };
    for (const Case& c : cases) {
        std::unique_ptr<IScalesObject> o(CreateScalesObject(c.model));
        ASSERT_NE(o, nullptr) << c.model;
        EXPECT_TRUE(c.is(o.get())) << c.model;
    }
    for (int32_t model : zeltest::UnmadeModels()) {
        std::unique_ptr<IScalesObject> o(CreateScalesObject(model));
        EXPECT_EQ(o, nullptr) << model;
    }
}

TEST(PolledClasses, CommandsTheScalesLackAreRefused) {
    for (int32_t model : {10, 13, 14, 27}) {
        std::unique_ptr<IScalesObject> o(CreateScalesObject(model));
        EXPECT_EQ(o->Tare(0.0), 5) << model;
        EXPECT_EQ(o->Zero(), 5) << model;
        EXPECT_EQ(o->SendPrice(1250), 5) << model;
        EXPECT_EQ(o->CheckConnection(), 2) << model;  // nothing was opened
    }
}

TEST(PolledClasses, LineThatCannotOpenGivesOne) {
    struct Case {
        int32_t model;
        double weightAfter;  // Масса-К keeps the caller's weight
    };
    for (Case c : {Case{10, 6.5}, Case{13, 0.0}, Case{14, 0.0}, Case{27, 0.0}}) {
        std::unique_ptr<IScalesObject> o(CreateScalesObject(c.model));
        EXPECT_EQ(o->OpenCom("/nonexistent/zel-tty", 9600, nullptr), 1);
        double weight = 6.5, price = 2.0, cost = 3.0;
        int32_t stable = 1;
        EXPECT_EQ(o->ReadWeight(weight, price, cost, stable), 1) << c.model;
        EXPECT_EQ(weight, c.weightAfter) << c.model;
        EXPECT_EQ(stable, 0) << c.model;
    }
}

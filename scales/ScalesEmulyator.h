// Model 20: a scale that needs no line. Every reading is made up by a
// generator private to the object, with an occasional unstable reading and
// an occasional missing answer, so an application can be tried end to end.
#pragma once

#include "scales/IScalesObject.h"

class ScalesEmulyator : public IScalesObject {
public:
    ScalesEmulyator();
    int32_t Connect() override;
    int32_t ReadWeight(double& weight, double& price, double& cost, int32_t& stable) override;
    int32_t Tare(double tare) override;
    int32_t Zero() override;
    int32_t SendPrice(int32_t price) override;

    // Seeds the generator as Connect does (whole seconds), for tests.
    void Seed(uint32_t seed);

private:
    int Draw();  // 0..32767, like the C runtime's rand()

    int32_t price;
    uint32_t state;
};

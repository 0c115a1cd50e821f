#include "scales/Factory.h"

#include "scales/ScalesEmulyator.h"

IScalesObject* CreateScalesObject(int32_t model) {
    if (model < 0 || model > 41) return nullptr;
    if (model == 20) return new ScalesEmulyator();
    if (IScalesObject* polled = CreatePolledScale(model)) return polled;
    return CreateListenerScale(model);
}

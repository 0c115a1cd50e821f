#include "scales/Factory.h"

IScalesObject* CreatePolledScale(int32_t) { return nullptr; }

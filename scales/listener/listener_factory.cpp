#include "scales/Factory.h"

IScalesObject* CreateListenerScale(int32_t) { return nullptr; }

// Creation of the scale object for a model number. Each protocol family
// provides a creator that returns null for models it does not serve.
#pragma once

#include <cstdint>

class IScalesObject;

// Null for a model without a class (outside 0..41, the placeholders 42..45,
// and models not built yet).
IScalesObject* CreateScalesObject(int32_t model);

// Family creators, one per source file that holds the classes.
IScalesObject* CreatePolledScale(int32_t model);    // scales/polled_factory.cpp
IScalesObject* CreateListenerScale(int32_t model);  // scales/listener/listener_factory.cpp

#include "platform/window_catcher.h"

namespace platform {

// No system-wide window messages here.
struct WindowMessageCatcher::State {};
WindowMessageCatcher::WindowMessageCatcher() : state_(nullptr) {}
WindowMessageCatcher::~WindowMessageCatcher() {}
bool WindowMessageCatcher::Start(const char*) { return false; }
bool WindowMessageCatcher::Wait(uint32_t*, uint32_t*, unsigned) { return false; }

}  // namespace platform

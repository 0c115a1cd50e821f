// Receives a registered window message broadcast to all top-level windows,
// through a hidden top-level window with its own message loop. Windows only
// (it needs a display under Wine); elsewhere Start() is false. Used by the
// tests of the driver's window-message broadcast.
#pragma once

#include <cstdint>

namespace platform {

class WindowMessageCatcher {
public:
    WindowMessageCatcher();
    ~WindowMessageCatcher();
    WindowMessageCatcher(const WindowMessageCatcher&) = delete;
    WindowMessageCatcher& operator=(const WindowMessageCatcher&) = delete;

    // Registers the named message and opens the window; false when no
    // window can be made here.
    bool Start(const char* messageName);
    // The next message caught, within timeoutMs.
    bool Wait(uint32_t* wParam, uint32_t* lParam, unsigned timeoutMs);

    struct State;  // defined by each system's implementation

private:
    [[maybe_unused]] State* state_;  // unused where no window messages exist
};

}  // namespace platform

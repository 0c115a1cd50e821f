#include <windows.h>

#include "platform/window_catcher.h"

#include <deque>
#include <utility>

namespace platform {

struct WindowMessageCatcher::State {
    UINT message = 0;
    HWND window = nullptr;
    HANDLE thread = nullptr;
    HANDLE ready = nullptr;     // set once the window exists (or failed)
    HANDLE arrived = nullptr;   // set for each message caught
    CRITICAL_SECTION lock;
    std::deque<std::pair<uint32_t, uint32_t>> caught;
};

namespace {

const char kClassName[] = "ZelWindowMessageCatcher";

LRESULT CALLBACK CatcherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<WindowMessageCatcher::State*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (state && message == state->message) {
        EnterCriticalSection(&state->lock);
        state->caught.emplace_back(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
        LeaveCriticalSection(&state->lock);
        SetEvent(state->arrived);
        return 0;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI CatcherThread(void* arg) {
    auto* state = static_cast<WindowMessageCatcher::State*>(arg);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CatcherProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);  // fails harmlessly when already registered
    // A top-level window that is never shown: broadcasts reach it all the same.
    state->window = CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, 0, 0, 1, 1, nullptr, nullptr,
                                    wc.hInstance, nullptr);
    if (state->window) SetWindowLongPtrA(state->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    SetEvent(state->ready);
    if (!state->window) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}

}  // namespace

WindowMessageCatcher::WindowMessageCatcher() : state_(new State) {
    InitializeCriticalSection(&state_->lock);
    state_->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    state_->arrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

WindowMessageCatcher::~WindowMessageCatcher() {
    if (state_->thread) {
        if (state_->window) PostMessageA(state_->window, WM_CLOSE, 0, 0);
        WaitForSingleObject(state_->thread, INFINITE);
        CloseHandle(state_->thread);
    }
    CloseHandle(state_->ready);
    CloseHandle(state_->arrived);
    DeleteCriticalSection(&state_->lock);
    delete state_;
}

bool WindowMessageCatcher::Start(const char* messageName) {
    if (state_->thread) return state_->window != nullptr;
    state_->message = RegisterWindowMessageA(messageName);
    if (!state_->message) return false;
    state_->thread = CreateThread(nullptr, 0, CatcherThread, state_, 0, nullptr);
    if (!state_->thread) return false;
    WaitForSingleObject(state_->ready, 10000);
    return state_->window != nullptr;
}

bool WindowMessageCatcher::Wait(uint32_t* wParam, uint32_t* lParam, unsigned timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        EnterCriticalSection(&state_->lock);
        if (!state_->caught.empty()) {
            *wParam = state_->caught.front().first;
            *lParam = state_->caught.front().second;
            state_->caught.pop_front();
            LeaveCriticalSection(&state_->lock);
            return true;
        }
        LeaveCriticalSection(&state_->lock);
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return false;
        WaitForSingleObject(state_->arrived, timeoutMs - spent);
    }
}

}  // namespace platform

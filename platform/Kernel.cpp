// Kernel and user-interface calls: the last-error code, sleeping, the millisecond tick, text
// formatting and the message box.
#include <sched.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "MessageBoxHook.h"
#include "WinSerial.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct MessageBoxState {
    std::mutex lock;
    MessageBoxHandler handler;
};

MessageBoxState& BoxState() {
    static MessageBoxState state;
    return state;
}

}  // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

DWORD GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long ms = static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
                                  static_cast<unsigned long long>(now.tv_nsec / 1000000L);
    return static_cast<DWORD>(ms);  // wraps every 49.7 days, as the Windows counter does
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    // The Windows call writes at most 1024 characters.
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer, 1025, format, args);
    va_end(args);
    if (written < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return written > 1024 ? 1024 : written;
}

HWND GetFocus() {
    return nullptr;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxState& state = BoxState();
    std::lock_guard<std::mutex> guard(state.lock);
    MessageBoxHandler previous = std::move(state.handler);
    state.handler = std::move(handler);
    return previous;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    MessageBoxHandler handler;
    {
        MessageBoxState& state = BoxState();
        std::lock_guard<std::mutex> guard(state.lock);
        handler = state.handler;
    }
    const char* shownText = text != nullptr ? text : "";
    const char* shownCaption = caption != nullptr ? caption : "Error";
    if (handler) {
        return handler(shownText, shownCaption, type);
    }
    std::fprintf(stderr, "%s: %s\n", shownCaption, shownText);
    std::fflush(stderr);
    return IDOK;
}

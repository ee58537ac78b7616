// Kernel and user-interface stand-ins: last error, sleeping, ticks, formatting, message box.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "MessageBoxHook.h"
#include "WinSerial.h"

namespace {

TEST(Kernel, LastErrorBelongsToItsThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenElsewhere = 1;
    std::thread other([&] { seenElsewhere = GetLastError(); });
    other.join();
    EXPECT_EQ(seenElsewhere, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Kernel, TicksAreMillisecondsAndSleepWaits) {
    const DWORD before = GetTickCount();
    Sleep(60);
    const DWORD elapsed = GetTickCount() - before;  // unsigned: right across a wrap too
    EXPECT_GE(elapsed, 55u);
    EXPECT_LT(elapsed, 5000u);
    Sleep(0);
}

TEST(Kernel, FormatsLikeTheWindowsCall) {
    char buffer[1100];
    EXPECT_EQ(wsprintfA(buffer, "%-6u|%02x|%5d/%-5d", 19200u, 0x11u, 4096, 0), 21);
    EXPECT_STREQ(buffer, "19200 |11| 4096/0    ");
    const std::string longText(2000, 'x');
    EXPECT_EQ(wsprintfA(buffer, "%s", longText.c_str()), 1024);
    EXPECT_EQ(std::string(buffer).size(), 1024u);
}

TEST(Kernel, MessageBoxGoesToTheInstalledHandler) {
    std::string seen;
    MessageBoxHandler previous =
        SetMessageBoxHandler([&](const char* text, const char* caption, unsigned type) {
            seen = std::string(caption) + "|" + text + "|" + std::to_string(type);
            return 7;
        });
    EXPECT_EQ(MessageBoxA(GetFocus(), "Could not open port.", "Sorvell", MB_OK), 7);
    EXPECT_EQ(seen, "Sorvell|Could not open port.|0");
    SetMessageBoxHandler(previous);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "caption: text\n");
}

}  // namespace

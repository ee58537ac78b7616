#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// How to reach another device when the COM number names none, ending a failure box's detail: in
// the window, the Port Selection dialog that follows lists the ports present.
inline constexpr const char* ChooseAdapterText =
    "Choose your adapter in the list of the next dialog.";

// The windowing services that connection and acquisition need of the main dialog. The dialog
// implements it on Qt; tests implement it with fakes.
class ModuleHost {
  public:
    virtual ~ModuleHost() = default;

    // A modal message box with an OK button only, captioned with the program's name.
    virtual void MessageBox(const char* text) = 0;
    // A failure box of the connection: text as its main text and detail (the device and the
    // system's reason) as its secondary text. A host without room for it shows the text alone.
    virtual void FailureBox(const char* text, const std::string& /*detail*/) { MessageBox(text); }
    // How the user reaches another device, ending the detail of a failure box whose COM number
    // names no usable device: the host says it, since only it knows what comes next.
    virtual std::string_view OtherDeviceHint() const { return ChooseAdapterText; }
    // Takes at most one pending window message and dispatches it (paint, mouse, buttons,
    // timer ticks). Answers whether one was taken.
    virtual bool PumpOneMessage() = 0;
    // Whether the main window has been closed (Escape, the close button) while a cycle was
    // waiting: the cycle then stops the module and lets the program end.
    virtual bool MainWindowClosing() const = 0;
    // Invalidates the whole client area with background erase.
    virtual void InvalidateClient() = 0;
    // Kills timer 100 and ends the main dialog through its OnOK.
    virtual void KillTimerAndClose() = 0;
    // The framework's default processing of the message being handled.
    virtual void DefaultProcessing() = 0;
    // Runs the Port Selection dialog modally; it reads and may change portNumber.
    virtual void RunPortSelectionDialog(int& portNumber) = 0;
    // The application profile, integer values. A write answers whether the profile now holds
    // the value (an unwritable profile does not).
    virtual int GetProfileInt(const char* section, const char* entry, int defaultValue) = 0;
    virtual bool WriteProfileInt(const char* section, const char* entry, int value) = 0;
};

// Time as the connection and the acquisition cycle see it. The cycle's own tests substitute a
// fake clock, so that its 2-second timeouts cost them no time; the program, sorvell-check and the
// suites that drive the simulator run on the system's clock.
class ModuleClock {
  public:
    virtual ~ModuleClock() = default;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // Calendar time in whole seconds, as the C library's time().
    virtual std::time_t Time() = 0;
    // A steady count of milliseconds, for measuring how long a step took.
    virtual std::int64_t SteadyMs() = 0;
};

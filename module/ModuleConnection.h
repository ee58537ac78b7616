#pragma once

#include <memory>

#include "ModuleHost.h"

class CComPort;
class CComLink;
class CLineSettings;

// portNumber value meaning that the user asked to terminate the program.
inline constexpr int TerminatePortNumber = 1000;

// Size of the scratch buffer that connecting drains into and reads the module's answer into.
inline constexpr int ConnectScratchSize = 32;

// Line speeds of the start-up handshake.
inline constexpr long HandshakeBaud = 38400;
inline constexpr long ModuleBaud = 128000;

// Results of ConnectModule.
enum ConnectResult : int {
    ConnectOk = 0,
    ConnectOpenFailed = 1,
    ConnectHandshakeBaudFailed = 2,
    ConnectModuleBaudFailed = 3,
    ConnectNoAnswer = 4,
};

// The connection to the Tavrek module: the port, the link over it, the line settings used to
// switch speeds and the port number the Port Selection dialog works on. One object lives as
// long as the program; a new connection attempt tears down the previous one first.
class ModuleConnection {
  public:
    explicit ModuleConnection(ModuleClock& clock);
    ~ModuleConnection();

    ModuleConnection(const ModuleConnection&) = delete;
    ModuleConnection& operator=(const ModuleConnection&) = delete;

    // One connection attempt on COM<number>: opens the port, does the handshake at 38400 and
    // 128000 baud and saves the number in the profile. Shows its message box and answers a
    // ConnectResult; only 0 brings the module up.
    int ConnectModule(ModuleHost& host, int number);

    // The connection step of the main dialog's initialisation: the saved port, attempts with the
    // Port Selection dialog in between while they fail, then the start commands unless the user
    // asked to terminate.
    void ConnectAtStartup(ModuleHost& host);

    // Connects afresh after the module stopped answering (it was reset, or its adapter was
    // pulled and plugged back): the same attempts, dialog and start commands as at start-up, on
    // the number of the last connection. Each attempt re-opens the device, so a COM number
    // mapped to a path that now leads to a new device finds it. Answers whether the module is
    // up again; false also when the user asked to terminate.
    bool Reconnect(ModuleHost& host);

    // Puts the line settings back and destroys the settings, the link and the port, in that
    // order, so that the same port can be opened again at once.
    void TearDown();

    // Adopts a port that is already built, with a link over it and no line settings of its own
    // (a previous connection is torn down first). Lets a harness drive the cycle over any port.
    void Adopt(std::unique_ptr<CComPort> port);

    // The link all module traffic goes through; null before the first attempt and after an
    // attempt on a number outside the COM range.
    CComLink* Link() const { return moduleLink.get(); }
    CComPort* Port() const { return modulePort.get(); }
    CLineSettings* Settings() const { return moduleSettings.get(); }

    bool TerminateRequested() const { return portNumber == TerminatePortNumber; }
    // The COM number the module was last reached on; 0 before that.
    int ConnectedNumber() const { return connectedNumber_; }

    // The number that the Port Selection dialog shows and returns; 1000 asks to terminate.
    // Stays 0 when the first attempt succeeds.
    int portNumber = 0;

  private:
    void SendByte(char byte);
    // Attempts on `number` with the Port Selection dialog in between while they fail, then the
    // start commands unless the user asked to terminate. Answers whether the module is up.
    bool ConnectWithRetries(ModuleHost& host, int number);
    // A module still streaming at 128000 baud (left so by a run that ended mid-block) is heard
    // only at its own speed: the line goes there for one "8" and back. Answers a ConnectResult.
    int StopStreamingModule(ModuleHost& host, int number, char* scratch);

    ModuleClock& clock_;
    // The COM number of the last connection that succeeded; 0 before the first.
    int connectedNumber_ = 0;
    std::unique_ptr<CComPort> modulePort;
    std::unique_ptr<CComLink> moduleLink;
    std::unique_ptr<CLineSettings> moduleSettings;
};

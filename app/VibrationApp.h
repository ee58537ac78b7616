// The application object: runs the main dialog modally; the program ends when it closes.
#pragma once

class ModuleSession;
class PortListSource;
class Profile;
struct SpectrumStore;

class CVibrationApp {
  public:
    CVibrationApp(SpectrumStore& store, ModuleSession& session, Profile& profile,
                  PortListSource& ports);

    // Runs the main dialog to its end. Answers false: there is no message loop of the
    // application's own to enter afterwards.
    bool InitInstance();

  private:
    SpectrumStore& store_;
    ModuleSession& session_;
    Profile& profile_;
    PortListSource& ports_;
};

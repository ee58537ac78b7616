#include "CheckCommand.h"

#include "CheckRun.h"
#include "ListSerialPorts.h"
#include "Profile.h"
#include "SystemClock.h"
#include "SystemPortListSource.h"

int SorvellCheckMain(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string error;
    const std::optional<CheckOptions> options = ParseCheckOptions(args, error);
    if (!options) {
        err << "sorvell-check: " << error << "\nTry 'sorvell-check --help'.\n";
        return CheckBadUsage;
    }
    if (options->help) {
        out << CheckHelpText;
        return CheckPassed;
    }
    if (options->version) {
        out << CheckVersionText();
        return CheckPassed;
    }
    // The same profile as the window's: its saved port and its [Ports] map of COM numbers.
    const Profile profile(Profile::DefaultPath());
    if (options->listPorts) {
        SystemPortListSource ports;
        return ListSerialPorts(ports, profile, out, err);
    }
    // A recording is judged without a module: no device is looked for.
    if (options->fromFile.empty()) {
        LoadComDeviceMap(profile, err);
    }
    const int savedPort =
        profile.GetInt(Profile::AppSection, Profile::ComPortEntry, Profile::DefaultComNumber);
    SystemClock clock;
    return RunCheck(*options, savedPort, clock, out, err);
}

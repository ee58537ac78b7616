#include "ListSerialPorts.h"

#include <string>
#include <vector>

#include "CheckRun.h"
#include "PortList.h"
#include "Profile.h"

int ListSerialPorts(PortListSource& ports, const Profile& profile, std::ostream& out,
                    std::ostream& err) {
    std::vector<std::string> warnings;
    std::vector<ComMapping> mappings;
    for (const Profile::PortMapping& mapping : profile.ReadPortMappings(warnings)) {
        mappings.push_back(ComMapping{mapping.comNumber, mapping.devicePath});
    }
    for (const std::string& warning : warnings) {
        err << "sorvell-check: " << profile.Path() << ": " << warning << '\n';
    }
    if (!profile.Problem().empty()) {
        err << "sorvell-check: " << profile.Problem() << "; the defaults are used\n";
    }
    PrintPortList(ListPorts(ports, mappings), out);
    return CheckPassed;
}

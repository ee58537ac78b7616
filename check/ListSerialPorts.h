// sorvell-check --list-ports: the serial ports present, as the Port Selection dialog lists them.
#pragma once

#include <ostream>

class PortListSource;
class Profile;

// Prints one line a port present (see PrintPortList), the COM numbers taken from the profile's
// [Ports] section; entries of it that are left out are reported on err. Answers the exit
// status, 0.
int ListSerialPorts(PortListSource& ports, const Profile& profile, std::ostream& out,
                    std::ostream& err);

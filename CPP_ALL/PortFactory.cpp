#include "PortFactory.h"

#include "ComDeviceMap.h"
#include "ComDeviceProblem.h"
#include "Win32Port.h"

OpenedComPort OpenComPort(int comNumber, unsigned inputQueueSize, unsigned outputQueueSize) {
    OpenedComPort opened;
    opened.comNumber = comNumber;
    if (!IsComNumber(comNumber)) {
        return opened;
    }
    // The port reports a refused open only through its line errors; the system's own code is
    // what tells the user why, so it is taken before anything else can set another.
    SetLastError(ERROR_SUCCESS);
    opened.port = std::make_unique<CWin32Port>(comNumber - 1, inputQueueSize, outputQueueSize, 0);
    opened.openError = GetLastError();
    return opened;
}

std::string OpenedComPort::FailureDetail(std::string_view hint) const {
    return DescribeComDeviceProblem(comNumber, openError, hint);
}

std::string LastLineFailure(int comNumber) {
    return ComDeviceLine(comNumber) + SystemErrorReason(GetLastError());
}

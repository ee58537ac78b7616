#include "Startup.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <utility>
#include <vector>

#include "ApplicationLook.h"
#include "MessageBoxHook.h"
#include "Profile.h"
#include "ProgramMessageBox.h"
#include "WinSerial.h"

namespace {

struct HeldMessage {
    QtMsgType type;
    QString category;
    QString text;
};

const char* checkedProgram = nullptr;
QtMessageHandler passedOnHandler = nullptr;
std::vector<HeldMessage> heldMessages;

void DisplayCheckHandler(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        std::fprintf(stderr,
                     "%s: no usable display: set DISPLAY to a running X server, or set "
                     "QT_QPA_PLATFORM=offscreen to run without one\n",
                     checkedProgram);
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
    if (type == QtFatalMsg) {
        passedOnHandler(type, context, message);
        return;
    }
    heldMessages.push_back(
        HeldMessage{type, QString::fromUtf8(context.category ? context.category : ""), message});
}

}  // namespace

std::optional<int> AnswerInformationOptions(int argc, char** argv, const char* program,
                                            const char* helpText) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            std::fputs(helpText, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("%s %s\n", program, SORVELL_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

void BeginDisplayCheck(const char* program) {
    checkedProgram = program;
    heldMessages.clear();
    passedOnHandler = qInstallMessageHandler(DisplayCheckHandler);
}

void EndDisplayCheck() {
    qInstallMessageHandler(passedOnHandler);
    for (const HeldMessage& held : std::exchange(heldMessages, {})) {
        const QByteArray category = held.category.toUtf8();
        const QMessageLogContext context(nullptr, 0, nullptr,
                                         category.isEmpty() ? nullptr : category.constData());
        qt_message_output(held.type, context, held.text);
    }
}

void RouteSerialMessageBoxes() {
    // The serial layer's MessageBoxA is one of the program's boxes, under the caption it gives;
    // it answers OK.
    SetMessageBoxHandler([](const char* text, const char* caption, unsigned) {
        ShowProgramMessage(nullptr, QString::fromUtf8(text != nullptr ? text : ""), QString(),
                           QString::fromUtf8(caption != nullptr ? caption : ""));
        return IDOK;
    });
}

void PrepareApplication(const Profile& profile) {
    ApplyApplicationLook();
    RouteSerialMessageBoxes();
    LoadComDeviceMap(profile, std::cerr);
}

ProgramObjects::ProgramObjects() : profile(Profile::DefaultPath()), module(store, clock) {
    PrepareApplication(profile);
}

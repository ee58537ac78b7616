// The one way the program shows a message box: the dialogs' validation messages, the module
// side's reports and the serial layer's MessageBoxA all come here. A box is a warning with an OK
// button, shown modally; showing it returns once the user has closed it.
#pragma once

#include <QString>
#include <functional>

class QWidget;

inline constexpr const char* ProgramMessageCaption = "Sorvell";

struct ProgramMessage {
    // The window the box stands over; nullptr for a box on its own.
    QWidget* owner;
    QString text;
    // Shown on the lines under the text; empty for none.
    QString detail;
    QString caption;
};

void ShowProgramMessage(QWidget* owner, const QString& text, const QString& detail = QString(),
                        const QString& caption = QString::fromLatin1(ProgramMessageCaption));

// Takes every box instead of the screen, so that tests can read and answer them; an empty hook
// brings the real box back. Answers the hook it replaces.
using ProgramMessageHook = std::function<void(const ProgramMessage& message)>;
ProgramMessageHook SetProgramMessageHook(ProgramMessageHook hook);

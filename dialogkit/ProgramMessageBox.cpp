#include "ProgramMessageBox.h"

#include <QMessageBox>
#include <utility>

namespace {

ProgramMessageHook& InstalledHook() {
    static ProgramMessageHook hook;
    return hook;
}

}  // namespace

void ShowProgramMessage(QWidget* owner, const QString& text, const QString& detail,
                        const QString& caption) {
    // A copy: the hook may replace itself while it answers.
    if (const ProgramMessageHook hook = InstalledHook()) {
        hook(ProgramMessage{owner, text, detail, caption});
        return;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
    if (!detail.isEmpty()) {
        box.setInformativeText(detail);
    }
    box.exec();
}

ProgramMessageHook SetProgramMessageHook(ProgramMessageHook hook) {
    return std::exchange(InstalledHook(), std::move(hook));
}

#include "LimitsShortcuts.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QShortcut>
#include <string>

#include "LimitsFile.h"

namespace {

const QKeySequence SaveKeys(Qt::CTRL | Qt::Key_S);
const QKeySequence LoadKeys(Qt::CTRL | Qt::Key_O);
const QKeySequence ExportKeys(Qt::CTRL | Qt::Key_E);

bool IsOwnKey(const QKeyEvent& event) {
    const QKeySequence pressed(event.keyCombination());
    return pressed == SaveKeys || pressed == LoadKeys || pressed == ExportKeys;
}

}  // namespace

LimitsShortcuts::LimitsShortcuts(QDialog& dialog, SpectrumStore& store, ModuleHost& host)
    : QObject(&dialog),
      dialog_(dialog),
      store_(store),
      host_(host),
      lastFolder_(QDir::currentPath()) {
    setObjectName(QStringLiteral("limitsShortcuts"));
    const auto attach = [&](const QKeySequence& keys, void (LimitsShortcuts::*action)()) {
        auto* shortcut = new QShortcut(keys, &dialog);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    attach(SaveKeys, &LimitsShortcuts::SaveLimits);
    attach(LoadKeys, &LimitsShortcuts::LoadLimits);
    attach(ExportKeys, &LimitsShortcuts::ExportView);
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) {
        edit->installEventFilter(this);
    }
}

bool LimitsShortcuts::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && IsOwnKey(*static_cast<QKeyEvent*>(event))) {
        // Not accepted: the edit does not claim the key, so the window's shortcut gets it.
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QString LimitsShortcuts::ChooseFile(Purpose purpose) {
    static const QString Filter = QStringLiteral("CSV files (*.csv);;All files (*)");
    const QString caption = purpose == Purpose::Save   ? QStringLiteral("Save Limits")
                            : purpose == Purpose::Load ? QStringLiteral("Load Limits")
                                                       : QStringLiteral("Export Plots");
    QFileDialog chooser(&dialog_, caption, lastFolder_, Filter);
    chooser.setObjectName(QStringLiteral("limitsFileDialog"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    if (purpose == Purpose::Load) {
        chooser.setAcceptMode(QFileDialog::AcceptOpen);
        chooser.setFileMode(QFileDialog::ExistingFile);
    } else {
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        chooser.setFileMode(QFileDialog::AnyFile);
        chooser.setDefaultSuffix(QStringLiteral("csv"));
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return {};
    }
    const QString path = chooser.selectedFiles().constFirst();
    lastFolder_ = QFileInfo(path).absolutePath();
    return path;
}

void LimitsShortcuts::Report(const std::string& text) {
    host_.MessageBox(text.c_str());
}

void LimitsShortcuts::SaveLimits() {
    const QString path = ChooseFile(Purpose::Save);
    std::string error;
    if (!path.isEmpty() && !SaveLimitsFile(QFile::encodeName(path).toStdString(), store_, error)) {
        Report(error);
    }
}

void LimitsShortcuts::LoadLimits() {
    const QString path = ChooseFile(Purpose::Load);
    std::string error;
    // The plots show the new limits at their next paint, as after any other limit change.
    if (!path.isEmpty() && !LoadLimitsFile(QFile::encodeName(path).toStdString(), store_, error)) {
        Report(error);
    }
}

void LimitsShortcuts::ExportView() {
    const QString path = ChooseFile(Purpose::Export);
    std::string error;
    if (!path.isEmpty() && !WriteFileAtomically(QFile::encodeName(path).toStdString(),
                                                FormatShownView(store_), error)) {
        Report(error);
    }
}

#include "FileShortcuts.h"

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
#include "ModuleSession.h"

namespace {

const QKeySequence SaveKeys(Qt::CTRL | Qt::Key_S);
const QKeySequence LoadKeys(Qt::CTRL | Qt::Key_O);
const QKeySequence ExportKeys(Qt::CTRL | Qt::Key_E);
const QKeySequence RecordKeys(Qt::CTRL | Qt::Key_R);

bool IsOwnKey(const QKeyEvent& event) {
    const QKeySequence pressed(event.keyCombination());
    return pressed == SaveKeys || pressed == LoadKeys || pressed == ExportKeys ||
           pressed == RecordKeys;
}

}  // namespace

FileShortcuts::~FileShortcuts() {
    session_.SetCycleObserver(nullptr);
    recorder_.Stop();
}

FileShortcuts::FileShortcuts(QDialog& dialog, SpectrumStore& store, ModuleHost& host,
                             ModuleSession& session)
    : QObject(&dialog),
      dialog_(dialog),
      store_(store),
      host_(host),
      session_(session),
      lastFolder_(QDir::currentPath()),
      title_(dialog.windowTitle()),
      recorder_(clock_, SORVELL_VERSION, [this](const std::string& why) { RecordingFailed(why); }) {
    setObjectName(QStringLiteral("fileShortcuts"));
    const auto attach = [&](const QKeySequence& keys, void (FileShortcuts::*action)()) {
        auto* shortcut = new QShortcut(keys, &dialog);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    attach(SaveKeys, &FileShortcuts::SaveLimits);
    attach(LoadKeys, &FileShortcuts::LoadLimits);
    attach(ExportKeys, &FileShortcuts::ExportView);
    attach(RecordKeys, &FileShortcuts::ToggleRecording);
    // Closing the window ends a recording as Ctrl+R would: no cycle comes after it.
    connect(&dialog, &QDialog::finished, this, [this] {
        if (recorder_.Recording()) {
            ToggleRecording();
        }
    });
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) {
        edit->installEventFilter(this);
    }
}

bool FileShortcuts::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && IsOwnKey(*static_cast<QKeyEvent*>(event))) {
        // Not accepted: the edit does not claim the key, so the window's shortcut gets it.
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QString FileShortcuts::ChooseFile(Purpose purpose) {
    static const QString Filter = QStringLiteral("CSV files (*.csv);;All files (*)");
    const QString caption = purpose == Purpose::Save     ? QStringLiteral("Save Limits")
                            : purpose == Purpose::Load   ? QStringLiteral("Load Limits")
                            : purpose == Purpose::Export ? QStringLiteral("Export Plots")
                                                         : QStringLiteral("Record");
    QFileDialog chooser(&dialog_, caption, lastFolder_, Filter);
    chooser.setObjectName(QStringLiteral("shortcutFileDialog"));
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

void FileShortcuts::Report(const std::string& text) {
    host_.MessageBox(text.c_str());
}

void FileShortcuts::SaveLimits() {
    const QString path = ChooseFile(Purpose::Save);
    std::string error;
    if (!path.isEmpty() && !SaveLimitsFile(QFile::encodeName(path).toStdString(), store_, error)) {
        Report(error);
    }
}

void FileShortcuts::LoadLimits() {
    const QString path = ChooseFile(Purpose::Load);
    std::string error;
    // The plots show the new limits at their next paint, as after any other limit change.
    if (!path.isEmpty() && !LoadLimitsFile(QFile::encodeName(path).toStdString(), store_, error)) {
        Report(error);
    }
}

void FileShortcuts::ExportView() {
    const QString path = ChooseFile(Purpose::Export);
    std::string error;
    if (!path.isEmpty() && !WriteFileAtomically(QFile::encodeName(path).toStdString(),
                                                FormatShownView(store_), error)) {
        Report(error);
    }
}

void FileShortcuts::ToggleRecording() {
    if (recorder_.Recording()) {
        session_.SetCycleObserver(nullptr);
        recorder_.Stop();
        ShowRecordingState();
        return;
    }
    const QString path = ChooseFile(Purpose::Record);
    if (path.isEmpty()) {
        return;
    }
    std::string error;
    if (!recorder_.Start(QFile::encodeName(path).toStdString(), session_.DeviceName(), error)) {
        Report(error);
        return;
    }
    session_.SetCycleObserver(&recorder_);
    ShowRecordingState();
}

void FileShortcuts::RecordingFailed(const std::string& why) {
    // The writer has closed the file; what was written before stays.
    session_.SetCycleObserver(nullptr);
    ShowRecordingState();
    Report(why);
}

void FileShortcuts::ShowRecordingState() {
    if (!recorder_.Recording()) {
        dialog_.setWindowTitle(title_);
        return;
    }
    const QString name = QFileInfo(QFile::decodeName(recorder_.Path().c_str())).fileName();
    dialog_.setWindowTitle(title_ + QStringLiteral(" - recording to ") + name);
}

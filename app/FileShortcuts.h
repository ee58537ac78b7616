// The main window's keyboard shortcuts for files: Ctrl+S saves the limits of both plots, Ctrl+O
// loads a limits file, Ctrl+E exports what the plots show now, Ctrl+R starts a recording of what
// the module sends (and, pressed again, ends it). Each asks for a file with a file dialog that
// starts in the folder last used; failures are reported in a message box.
#pragma once

#include <QObject>
#include <QString>

#include "CycleRecorder.h"
#include "ModuleHost.h"
#include "SpectrumStore.h"
#include "SystemClock.h"

class ModuleSession;
class QDialog;

class FileShortcuts : public QObject {
    Q_OBJECT
  public:
    // Attaches the shortcuts to dialog, which owns this object; messages go to host's message
    // box, and a recording keeps the cycles of session.
    FileShortcuts(QDialog& dialog, SpectrumStore& store, ModuleHost& host, ModuleSession& session);
    // A recording still running ends with the window: every completed cycle is in its file.
    ~FileShortcuts() override;

    void SaveLimits();
    void LoadLimits();
    void ExportView();
    // Starts a recording, or ends the one running.
    void ToggleRecording();

    bool Recording() const { return recorder_.Recording(); }

    // The folder the next file dialog opens in: that of the last file chosen, at first the
    // working folder.
    const QString& LastFolder() const { return lastFolder_; }

  protected:
    // Keeps the line edits from taking these keys for themselves (Ctrl+E moves to the end of the
    // line on this system), so that the shortcuts work wherever the focus is.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Purpose { Save, Load, Export, Record };
    // Runs the file dialog; an empty answer means cancelled.
    QString ChooseFile(Purpose purpose);
    void Report(const std::string& text);
    // The window's title, with the recording's file while one runs.
    void ShowRecordingState();
    void RecordingFailed(const std::string& why);

    QDialog& dialog_;
    SpectrumStore& store_;
    ModuleHost& host_;
    ModuleSession& session_;
    QString lastFolder_;
    const QString title_;
    SystemClock clock_;
    CycleRecorder recorder_;
};

// The main window's keyboard shortcuts for limits files: Ctrl+S saves the limits of both plots,
// Ctrl+O loads a limits file, Ctrl+E exports what the plots show now. Each asks for a file with a
// file dialog that starts in the folder last used; failures are reported in a message box.
#pragma once

#include <QObject>
#include <QString>

#include "ModuleHost.h"
#include "SpectrumStore.h"

class QDialog;

class LimitsShortcuts : public QObject {
    Q_OBJECT
  public:
    // Attaches the shortcuts to dialog, which owns this object; messages go to host's message box.
    LimitsShortcuts(QDialog& dialog, SpectrumStore& store, ModuleHost& host);

    void SaveLimits();
    void LoadLimits();
    void ExportView();

    // The folder the next file dialog opens in: that of the last file chosen, at first the
    // working folder.
    const QString& LastFolder() const { return lastFolder_; }

  protected:
    // Keeps the line edits from taking these keys for themselves (Ctrl+E moves to the end of the
    // line on this system), so that the shortcuts work wherever the focus is.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Purpose { Save, Load, Export };
    // Runs the file dialog; an empty answer means cancelled.
    QString ChooseFile(Purpose purpose);
    void Report(const std::string& text);

    QDialog& dialog_;
    SpectrumStore& store_;
    ModuleHost& host_;
    QString lastFolder_;
};

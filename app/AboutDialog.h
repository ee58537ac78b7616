// The About box (dialog 100): icon, version line, a second line, and OK as the default button.
#pragma once

#include <QDialog>

class CAboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};

inline constexpr const char* AboutVersionText = "Sorvell Version 1.0";
inline constexpr const char* AboutSecondLineText = "Vibration spectra for Tavrek";

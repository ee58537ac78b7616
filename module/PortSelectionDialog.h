#pragma once

#include <QDialog>

// The Port Selection dialog: asks for another COM port number after a failed connection, or
// lets the user terminate the program. It shows portNumber when it opens and writes the
// chosen number (or 1000 for "Terminate Program") back into it.
class CPortSelectionDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CPortSelectionDialog(int& portNumber, QWidget* parent = nullptr);

    int m_nPortNumber = 0;

  private:
    int& portNumber_;
};

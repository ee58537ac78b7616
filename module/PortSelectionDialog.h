#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

// The Port Selection dialog: asks for another COM port number after a failed connection, or
// lets the user terminate the program. It shows portNumber when it opens and writes the
// chosen number (or 1000 for "Terminate Program") back into it.
class CPortSelectionDialog : public QDialog {
    Q_OBJECT
  public:
    // Template and control identifiers.
    static constexpr int IDD = 129;
    static constexpr int IDC_PORT_EDIT = 1032;
    static constexpr int IDC_TERMINATE = 1075;

    explicit CPortSelectionDialog(int& portNumber, QWidget* parent = nullptr);

    // The controls, for the dialog's users and tests.
    QLineEdit* PortEdit() const { return portEdit_; }
    QPushButton* OkButton() const { return okButton_; }
    QPushButton* TerminateButton() const { return terminateButton_; }

    // Controls into the member (true, validating) or the member into the controls (false).
    // Answers false when validation failed: the program's message box has said so, the edit has
    // the focus and the member keeps its value.
    bool UpdateData(bool saveAndValidate);

    int m_nPortNumber = 0;

  public slots:
    // OK button or Enter: take the number, then end with OK if the edit holds an integer.
    void OnOK();
    // "Terminate Program": record the terminate request, then end with OK if the edit holds
    // an integer.
    void OnTerminateProgram();

  protected:
    // Shows the number that just failed.
    virtual bool OnInitDialog();
    void showEvent(QShowEvent* event) override;

  private:
    bool DoDataExchange(bool saveAndValidate);
    // The framework's OK: pull and validate, and end the dialog only when that succeeded.
    void FrameworkOnOK();

    int& portNumber_;
    bool initialised_ = false;
    QPushButton* okButton_ = nullptr;
    QPushButton* terminateButton_ = nullptr;
    QLineEdit* portEdit_ = nullptr;
    QLabel* firstLine_ = nullptr;
    QLabel* secondLine_ = nullptr;
};

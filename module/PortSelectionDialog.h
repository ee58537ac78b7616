#pragma once

#include <QDialog>
#include <QTimer>
#include <optional>
#include <vector>

#include "PortList.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QHideEvent;
class QShowEvent;

// The Port Selection dialog: asks for another COM port number after a failed connection, or
// lets the user terminate the program. It shows portNumber when it opens and writes the
// chosen number (or 1000 for "Terminate Program") back into it. Under the number it lists the
// serial ports present, read again every second; choosing one maps it to the number.
class CPortSelectionDialog : public QDialog {
    Q_OBJECT
  public:
    // Template identifier.
    static constexpr int IDD = 129;
    // How often the list of ports is read again while the dialog is open.
    static constexpr int PortListRefreshMs = 1000;

    // ports lists the ports present; mappings are the profile's [Ports] entries, which the list
    // shows as each port's COM numbers.
    CPortSelectionDialog(int& portNumber, PortListSource& ports, std::vector<ComMapping> mappings,
                         QWidget* parent = nullptr);

    // The controls, for the dialog's users and tests.
    QLineEdit* PortEdit() const { return portEdit_; }
    QPushButton* OkButton() const { return okButton_; }
    QPushButton* TerminateButton() const { return terminateButton_; }
    QListWidget* PortList() const { return portList_; }

    // Controls into the member (true, validating) or the member into the controls (false).
    // Answers false when validation failed: the program's message box has said so, the edit has
    // the focus and the member keeps its value.
    bool UpdateData(bool saveAndValidate);

    // After the dialog ended with OK on a port of the list and a COM number (1 to
    // HighestComNumber): that number and the port's device, which the caller maps. Nothing
    // otherwise (no port chosen, "Terminate Program", Escape, Close, or a number that is no COM
    // number).
    const std::optional<ComMapping>& ChosenMapping() const { return chosenMapping_; }

    int m_nPortNumber = 0;

  public slots:
    // OK button or Enter: take the number, then end with OK if the edit holds an integer.
    void OnOK();
    // "Terminate Program": record the terminate request, then end with OK if the edit holds
    // an integer.
    void OnTerminateProgram();
    // Reads the ports present again; the chosen port stays chosen while it is present.
    void RefreshPortList();

  protected:
    // Shows the number that just failed.
    virtual bool OnInitDialog();
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    bool DoDataExchange(bool saveAndValidate);
    // The framework's OK: pull and validate, and end the dialog only when that succeeded.
    // Answers whether the dialog ended.
    bool FrameworkOnOK();
    // A port chosen by the user: the edit shows the number it will be mapped to.
    void OnPortChosen();
    // The list entry chosen now, if any.
    const PortListEntry* ChosenEntry() const;

    int& portNumber_;
    PortListSource& ports_;
    const std::vector<ComMapping> mappings_;
    std::vector<PortListEntry> entries_;
    std::optional<ComMapping> chosenMapping_;
    bool initialised_ = false;
    QPushButton* okButton_ = nullptr;
    QPushButton* terminateButton_ = nullptr;
    QLineEdit* portEdit_ = nullptr;
    QLabel* firstLine_ = nullptr;
    QLabel* secondLine_ = nullptr;
    QLabel* listLine_ = nullptr;
    QListWidget* portList_ = nullptr;
    QTimer refreshTimer_;
};

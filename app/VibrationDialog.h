// The main window (dialog 102): two spectrum plots drawn on the client area above the limit and
// display controls. It is the module side's host (message boxes, message pump, repaint, timer,
// Port Selection dialog, profile) and the plots' paint host.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QString>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ModuleHost.h"
#include "ModuleSession.h"
#include "PlotRenderer.h"
#include "SpectrumStore.h"

class QAction;
class QButtonGroup;
class QLineEdit;
class QPushButton;
class PortListSource;
class Profile;

// Timer 100: one acquisition cycle every AcquisitionPeriodMs (AcquisitionCycle.h).
inline constexpr int AcquisitionTimerId = 100;
// The About command; its low four bits are ignored, so 16 to 31 all open the About box.
inline constexpr int AboutCommandId = 16;
inline constexpr const char* MainDialogCaption = "Sorvell Vibration Analysis";

class CVibrationDialog : public QDialog, public ModuleHost, public PaintHost {
    Q_OBJECT
  public:
    // ports lists the serial ports present in the Port Selection dialog.
    CVibrationDialog(SpectrumStore& store, ModuleSession& session, Profile& profile,
                     PortListSource& ports, QWidget* parent = nullptr);
    ~CVibrationDialog() override;

    // Initialises the dialog (message boxes and the Port Selection dialog of the connection step
    // appear before the window), then runs it modally. Answers QDialog::Accepted or Rejected.
    int DoModal();

    // Pushes the defaults into the controls, adds the About command, sets the icons, fills the
    // store's defaults, clears the busy flag, connects to the module and starts timer 100.
    bool OnInitDialog();

    // true: pulls margin, limit choice, step and display choice from the controls, in that order;
    // at the first invalid edit it shows the validation message, puts the focus on that edit and
    // stops, so that member and the later ones keep their values. Answers whether all were
    // pulled. false: pushes the members into the controls.
    bool UpdateData(bool saveAndValidate = true);

    // Handlers.
    void OnSysCommand(int commandId);
    void OnPaint();
    void OnTimer(int timerId);
    void OnMouseMove(QPoint point);
    void OnLButtonDown(QPoint point);
    void OnRButtonDown(QPoint point);
    void OnAutoSetLimits();
    void OnReset();
    // Enter outside the edits and the push buttons: validates, then ends the dialog with
    // Accepted; stays open when an edit is invalid.
    void OnOK();

    // ModuleHost.
    void MessageBox(const char* text) override;
    void FailureBox(const char* text, const std::string& detail) override;
    bool PumpOneMessage() override;
    bool MainWindowClosing() const override { return closing_; }
    void InvalidateClient() override;
    void KillTimerAndClose() override;
    void DefaultProcessing() override;
    void RunPortSelectionDialog(int& portNumber) override;
    int GetProfileInt(const char* section, const char* entry, int defaultValue) override;
    bool WriteProfileInt(const char* section, const char* entry, int value) override;

    // PaintHost.
    int PullDisplaySelect() override;

    // The control with the given id (1000 to 1009), or nullptr.
    QWidget* Control(int id) const;
    QAction* AboutAction() const { return aboutAction_; }
    bool IsTimerRunning() const { return timer_.isActive(); }

    float m_fAutoSetMargin = 5.0f;
    int m_nLimitSelect = 0;
    int m_nStepSize = 6;
    int m_nDisplaySelect = 0;
    QIcon m_hIcon;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // The window system turns the second of two quick presses into a double click: it is still
    // a press, and steps the limit like any other.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // The pointer leaving the window, or entering one of its controls, is over no bar any more.
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Ending the dialog ends its timer with it, as destroying the window does.
    void done(int result) override;

  private:
    // Whether pointer input at point is the dialog's own: inside its client area and over none
    // of the controls that take pointer input themselves.
    bool IsOwnPointerPosition(QPoint point) const;
    void PressButton(QMouseEvent* event);
    enum class Report { Now, Silently };
    bool PullControls(Report report);
    // An edit left holding text that is no number is reported once the focus has moved on.
    void ReportLeftEdit(QLineEdit* edit);
    void ShowValidationMessage(QLineEdit* edit, const QString& message);
    // The controls of template 102, in its order.
    void CreateControls();
    // Tab order, the pointer and focus watch, and the buttons' handlers.
    void WireControls(const std::vector<QWidget*>& focusOrder);
    void ShowMessageBox(const QString& text, const QString& detail = QString());
    void ReportProfileProblem(const std::string& text);

    SpectrumStore& store_;
    ModuleSession& session_;
    Profile& profile_;
    PortListSource& ports_;
    QBasicTimer timer_;
    // Set when the dialog ends: a cycle waiting further up the stack then stops at once.
    bool closing_ = false;
    // The plots' label font, made once rather than at every paint.
    const QFont plotFont_;
    QAction* aboutAction_ = nullptr;

    QPushButton* autoSet_ = nullptr;
    QLineEdit* margin_ = nullptr;
    QLineEdit* step_ = nullptr;
    QButtonGroup* limitGroup_ = nullptr;
    QButtonGroup* displayGroup_ = nullptr;
    std::map<int, QWidget*> controls_;

    // While a validation message is up, the focus it takes from an edit is no reason to report
    // that edit again.
    bool validationBoxOpen_ = false;
    // The time stamp of the last press that stepped a limit: a double click carries the time
    // stamp of its own press, so one delivered after that press is not a second press.
    std::optional<quint64> lastPressTime_;
    bool profileProblemReported_ = false;
};

#include "VibrationDialog.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <iostream>
#include <utility>
#include <vector>

#include "AboutDialog.h"
#include "AcquisitionCycle.h"
#include "ApplicationLook.h"
#include "ComDeviceMap.h"
#include "DataExchange.h"
#include "DialogUnits.h"
#include "FileShortcuts.h"
#include "LimitEditor.h"
#include "PortSelectionDialog.h"
#include "Profile.h"
#include "ProgramMessageBox.h"
#include "QtCanvas.h"
#include "Resources.h"

namespace {

// The size of a large icon, as the minimised window draws it.
constexpr int IconSize = 32;

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The radio exchange: the index of the checked button of the group, -1 when none is checked.
int CheckedIndex(const QButtonGroup& group) {
    return group.checkedId();
}

// Checks the button with the given index and clears the others; an index without a button
// clears them all.
void CheckIndex(QButtonGroup& group, int index) {
    if (QAbstractButton* button = group.button(index)) {
        button->setChecked(true);
        return;
    }
    group.setExclusive(false);
    for (QAbstractButton* button : group.buttons()) {
        button->setChecked(false);
    }
    group.setExclusive(true);
}

enum class ControlKind { Radio, Push, Edit, Text, RightText, Group };
// The radio buttons' groups; a button's index in its group is its place in the template.
enum class RadioGroup { None, Limit, Display };

struct DialogUnitRect {
    int x;
    int y;
    int width;
    int height;
};

struct ControlTemplate {
    int id;  // 0: a static text or a group box, which nothing refers to
    ControlKind kind;
    const char* text;
    DialogUnitRect rect;
    RadioGroup group;
};

// Template 102 in its order. The controls with an id are also its tab stops, in this order:
// 1007, 1006 (m_nLimitSelect), 1000, 1001, 1004, 1008, 1009 (m_nDisplaySelect), 1002.
constexpr ControlTemplate MainDialogTemplate[] = {
    {IDC_MAXLIMIT, ControlKind::Radio, "Max Limit", {105, 169, 43, 10}, RadioGroup::Limit},
    {IDC_MINLIMIT, ControlKind::Radio, "Min Limit", {105, 181, 43, 10}, RadioGroup::Limit},
    {IDC_AUTOSET, ControlKind::Push, "Auto-set Limits", {210, 177, 59, 13}, RadioGroup::None},
    {IDC_MARGIN, ControlKind::Edit, "", {280, 178, 17, 12}, RadioGroup::None},
    {0, ControlKind::Text, "Y-Axis", {239, 141, 24, 8}, RadioGroup::None},
    {0, ControlKind::Text, "X-Axis", {64, 141, 25, 8}, RadioGroup::None},
    {0, ControlKind::Text, "40Hz", {1, 141, 25, 8}, RadioGroup::None},
    {0, ControlKind::Text, "900Hz", {122, 141, 25, 8}, RadioGroup::None},
    {0, ControlKind::Text, "dB", {299, 181, 9, 8}, RadioGroup::None},
    {0,
     ControlKind::Group,
     "Limit Update - Right-click to increase, left-click to decrease",
     {101, 158, 212, 37},
     RadioGroup::None},
    {0, ControlKind::Text, "Step size:", {157, 168, 40, 8}, RadioGroup::None},
    {IDC_STEPSIZE, ControlKind::Edit, "", {159, 178, 17, 12}, RadioGroup::None},
    {0, ControlKind::Text, "dB", {178, 181, 9, 8}, RadioGroup::None},
    {0, ControlKind::Text, "40Hz", {174, 141, 25, 8}, RadioGroup::None},
    {0, ControlKind::Text, "900Hz", {295, 141, 24, 8}, RadioGroup::None},
    {IDC_LIVEDATA, ControlKind::Radio, "Live Data  ", {10, 168, 43, 10}, RadioGroup::Display},
    {IDC_ERRORDATA, ControlKind::Radio, "Error Data ", {10, 180, 46, 10}, RadioGroup::Display},
    {0, ControlKind::Group, "Display data: ", {7, 158, 88, 37}, RadioGroup::None},
    {IDC_RESET, ControlKind::Push, "Reset", {61, 177, 29, 13}, RadioGroup::None},
    {0, ControlKind::RightText, "\u00b1", {270, 180, 8, 8}, RadioGroup::None},
};

// A control paints its own background, so that redrawing it (a blinking caret, a checked radio
// button, a button under the pointer) repaints only the control and never runs the plots' paint
// with its latching and clearing. Group boxes stay see-through: they lie under the controls that
// they frame.
QWidget* Opaque(QWidget* widget) {
    widget->setBackgroundRole(QPalette::Window);
    widget->setAutoFillBackground(true);
    return widget;
}

QWidget* MakeRadio(const QString& text, QWidget* parent) {
    auto* button = new QRadioButton(text, parent);
    // Radio buttons are no tab stops: a click focuses them, Tab passes them by.
    button->setFocusPolicy(Qt::ClickFocus);
    return Opaque(button);
}

QWidget* MakePush(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    // No push button is the default: Enter presses the focused button and is OK elsewhere.
    button->setAutoDefault(false);
    button->setDefault(false);
    return Opaque(button);
}

QWidget* MakeText(const QString& text, Qt::Alignment alignment, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignTop);
    // Static texts take no pointer input: moves and clicks on them belong to the dialog.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return Opaque(label);
}

QWidget* MakeGroup(const QString& text, QWidget* parent) {
    auto* box = new QGroupBox(text, parent);
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

QWidget* MakeControl(const ControlTemplate& entry, QWidget* parent) {
    const QString text = QString::fromUtf8(entry.text);
    switch (entry.kind) {
        case ControlKind::Radio:
            return MakeRadio(text, parent);
        case ControlKind::Push:
            return MakePush(text, parent);
        case ControlKind::Edit:
            return Opaque(new QLineEdit(parent));
        case ControlKind::Text:
            return MakeText(text, Qt::AlignLeft, parent);
        case ControlKind::RightText:
            return MakeText(text, Qt::AlignRight, parent);
        case ControlKind::Group:
            break;
    }
    return MakeGroup(text, parent);
}

// The control of one entry, named after its id and placed; the first control of the template
// lies on top, the group boxes under what they frame.
QWidget* PlaceControl(const ControlTemplate& entry, QWidget* parent) {
    QWidget* widget = MakeControl(entry, parent);
    if (entry.id != 0) {
        widget->setObjectName(QStringLiteral("control%1").arg(entry.id));
    }
    const DialogUnitRect& rect = entry.rect;
    widget->setGeometry(DialogRect(rect.x, rect.y, rect.width, rect.height));
    widget->lower();
    return widget;
}

}  // namespace

CVibrationDialog::CVibrationDialog(SpectrumStore& store, ModuleSession& session, Profile& profile,
                                   PortListSource& ports, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      store_(store),
      session_(session),
      profile_(profile),
      ports_(ports),
      plotFont_(QtCanvas::DefaultTextFont()) {
    setWindowTitle(QString::fromUtf8(MainDialogCaption));
    setFont(DialogFont());
    setFixedSize(DialogSize(320, 200));
    setSizeGripEnabled(false);
    // Pointer moves must arrive without a button held: they select the bin under the pointer.
    setMouseTracking(true);
    m_hIcon = ApplicationIcon();
    CreateControls();
    // Limits files and recordings by keyboard only (Ctrl+S, Ctrl+O, Ctrl+E, Ctrl+R); owned by
    // the dialog.
    new FileShortcuts(*this, store_, *this, session_);
}

CVibrationDialog::~CVibrationDialog() = default;

void CVibrationDialog::CreateControls() {
    limitGroup_ = new QButtonGroup(this);
    displayGroup_ = new QButtonGroup(this);
    std::vector<QWidget*> focusOrder;
    for (const ControlTemplate& entry : MainDialogTemplate) {
        QWidget* widget = PlaceControl(entry, this);
        if (entry.group != RadioGroup::None) {
            QButtonGroup* group = entry.group == RadioGroup::Limit ? limitGroup_ : displayGroup_;
            group->addButton(static_cast<QAbstractButton*>(widget),
                             static_cast<int>(group->buttons().size()));
        }
        if (entry.id != 0) {
            controls_[entry.id] = widget;
            focusOrder.push_back(widget);
        }
    }
    WireControls(focusOrder);
}

void CVibrationDialog::WireControls(const std::vector<QWidget*>& focusOrder) {
    // Tab visits the tab stops in template order.
    for (std::size_t i = 1; i < focusOrder.size(); ++i) {
        setTabOrder(focusOrder[i - 1], focusOrder[i]);
    }
    // Entering a control takes the pointer off the plots; the edits report a refused text when
    // the user leaves them.
    for (QWidget* control : focusOrder) {
        control->installEventFilter(this);
    }
    autoSet_ = static_cast<QPushButton*>(Control(IDC_AUTOSET));
    margin_ = static_cast<QLineEdit*>(Control(IDC_MARGIN));
    step_ = static_cast<QLineEdit*>(Control(IDC_STEPSIZE));
    connect(autoSet_, &QPushButton::clicked, this, [this] { OnAutoSetLimits(); });
    connect(static_cast<QPushButton*>(Control(IDC_RESET)), &QPushButton::clicked, this,
            [this] { OnReset(); });
}

QWidget* CVibrationDialog::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

int CVibrationDialog::DoModal() {
    OnInitDialog();
    return exec();
}

bool CVibrationDialog::OnInitDialog() {
    // The framework's part: the members' defaults into the controls, the focus on the first tab
    // stop.
    UpdateData(false);
    autoSet_->setFocus(Qt::OtherFocusReason);

    // The About command. No system menu can be extended here, so it is an action of the window,
    // reached with F1 and with Alt+A (the mnemonic of its text).
    const std::string_view aboutText = LoadResourceString(IDS_ABOUTBOX);
    if (!aboutText.empty() && aboutAction_ == nullptr) {
        aboutAction_ = new QAction(FromUtf8(aboutText), this);
        aboutAction_->setShortcuts({QKeySequence(Qt::Key_F1), QKeySequence(Qt::ALT | Qt::Key_A)});
        aboutAction_->setShortcutContext(Qt::WindowShortcut);
        aboutAction_->setToolTip(FromUtf8(aboutText).remove(QLatin1Char('&')));
        addAction(aboutAction_);
        connect(aboutAction_, &QAction::triggered, this, [this] { OnSysCommand(AboutCommandId); });
    }

    // Big and small icon: one icon holding both images.
    setWindowIcon(m_hIcon);

    store_.FillDefaults();
    session_.ConnectAtStartup(*this);
    timer_.start(AcquisitionPeriodMs, Qt::PreciseTimer, this);
    return true;
}

bool CVibrationDialog::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        return PullControls(Report::Now);
    }
    margin_->setText(QString::fromStdString(FormatFloatText(m_fAutoSetMargin)));
    CheckIndex(*limitGroup_, m_nLimitSelect);
    step_->setText(QString::fromStdString(FormatIntText(m_nStepSize)));
    CheckIndex(*displayGroup_, m_nDisplaySelect);
    return true;
}

bool CVibrationDialog::PullControls(Report report) {
    const auto fail = [&](QLineEdit* edit, const char* message) {
        if (report == Report::Now) {
            ShowValidationMessage(edit, QString::fromUtf8(message));
        }
        return false;
    };
    const std::optional<float> margin = ParseFloatText(margin_->text().toStdString());
    if (!margin) {
        return fail(margin_, ParseRealMessage);
    }
    m_fAutoSetMargin = *margin;
    m_nLimitSelect = CheckedIndex(*limitGroup_);
    const std::optional<int> step = ParseIntText(step_->text().toStdString());
    if (!step) {
        return fail(step_, ParseIntegerMessage);
    }
    m_nStepSize = *step;
    m_nDisplaySelect = CheckedIndex(*displayGroup_);
    return true;
}

void CVibrationDialog::ReportLeftEdit(QLineEdit* edit) {
    // By now the text may have been mended, or the user may be back in the edit typing.
    if (validationBoxOpen_ || edit->hasFocus() || !isVisible()) {
        return;
    }
    const std::string text = edit->text().toStdString();
    if (edit == margin_ && !ParseFloatText(text)) {
        ShowValidationMessage(edit, QString::fromUtf8(ParseRealMessage));
    } else if (edit == step_ && !ParseIntText(text)) {
        ShowValidationMessage(edit, QString::fromUtf8(ParseIntegerMessage));
    }
}

void CVibrationDialog::ShowValidationMessage(QLineEdit* edit, const QString& message) {
    validationBoxOpen_ = true;
    ShowMessageBox(message);
    validationBoxOpen_ = false;
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

bool CVibrationDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter) {
        store_.ClearHover();
    } else if (event->type() == QEvent::FocusOut && (watched == margin_ || watched == step_)) {
        // Only the user moving on (Tab, a click elsewhere in the window) counts; a message box
        // or another window taking the focus does not. A click on "Auto-set Limits" is left to
        // the button, which reports the text itself.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool movedOn = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                             reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason;
        const bool autoSetClicked =
            reason == Qt::MouseFocusReason && QApplication::focusWidget() == autoSet_;
        if (movedOn && !validationBoxOpen_ && !autoSetClicked) {
            auto* edit = static_cast<QLineEdit*>(watched);
            // Not inside the focus change: the box runs a modal loop of its own.
            QTimer::singleShot(0, this, [this, edit] { ReportLeftEdit(edit); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CVibrationDialog::ShowMessageBox(const QString& text, const QString& detail) {
    // Before the window first shows (the connection step) the box stands on its own.
    ShowProgramMessage(isVisible() ? this : nullptr, text, detail);
}

void CVibrationDialog::OnSysCommand(int commandId) {
    if ((commandId & 0xFFF0) == AboutCommandId) {
        CAboutDialog about(this);
        about.exec();
    }
}

void CVibrationDialog::paintEvent(QPaintEvent*) {
    OnPaint();
}

void CVibrationDialog::OnPaint() {
    QPainter painter(this);
    if (isMinimized()) {
        const int x = (width() - IconSize + 1) / 2;
        const int y = (height() - IconSize + 1) / 2;
        painter.drawPixmap(x, y, m_hIcon.pixmap(IconSize, IconSize));
        return;
    }
    QtCanvas canvas(painter, plotFont_);
    PaintSpectrumPlots(canvas, store_, PlotRect{0, 0, width(), height()}, *this);
}

int CVibrationDialog::PullDisplaySelect() {
    // A paint pulls silently: the user may be halfway through typing a number ("-" before
    // "-7"), and a message box then would select the text and lose what was typed.
    PullControls(Report::Silently);
    return m_nDisplaySelect;
}

void CVibrationDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) {
        OnTimer(AcquisitionTimerId);
        return;
    }
    QDialog::timerEvent(event);
}

void CVibrationDialog::OnTimer(int timerId) {
    if (timerId == AcquisitionTimerId) {
        session_.OnTimer(*this);
    }
}

bool CVibrationDialog::IsOwnPointerPosition(QPoint point) const {
    return rect().contains(point) && childAt(point) == nullptr;
}

void CVibrationDialog::mouseMoveEvent(QMouseEvent* event) {
    // Moves over a control are the control's, and a pointer outside the window (held by a
    // button pressed on the dialog) is over no part of it: neither selects a bin, and the
    // pointer is over no bar any more.
    const QPoint point = event->position().toPoint();
    if (!IsOwnPointerPosition(point)) {
        store_.ClearHover();
        QDialog::mouseMoveEvent(event);
        return;
    }
    OnMouseMove(point);
}

void CVibrationDialog::leaveEvent(QEvent* event) {
    store_.ClearHover();
    QDialog::leaveEvent(event);
}

void CVibrationDialog::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    // A click that a control passes on (a right click on a button, say) is the control's, not
    // a click on the dialog: it edits no limit.
    if (!IsOwnPointerPosition(point)) {
        QDialog::mousePressEvent(event);
        return;
    }
    PressButton(event);
}

void CVibrationDialog::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!IsOwnPointerPosition(event->position().toPoint()) ||
        lastPressTime_ == event->timestamp()) {
        event->ignore();
        return;
    }
    PressButton(event);
}

void CVibrationDialog::PressButton(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        lastPressTime_ = event->timestamp();
        OnLButtonDown(point);
    } else if (event->button() == Qt::RightButton) {
        lastPressTime_ = event->timestamp();
        OnRButtonDown(point);
    } else {
        event->ignore();
    }
}

void CVibrationDialog::OnMouseMove(QPoint point) {
    if (TrackPointer(store_, point.x(), point.y())) {
        DefaultProcessing();
    }
}

void CVibrationDialog::OnLButtonDown(QPoint) {
    UpdateData(true);
    LowerSelectedLimit(store_, m_nLimitSelect, m_nStepSize);
    DefaultProcessing();
}

void CVibrationDialog::OnRButtonDown(QPoint) {
    UpdateData(true);
    RaiseSelectedLimit(store_, m_nLimitSelect, m_nStepSize);
    DefaultProcessing();
}

void CVibrationDialog::OnAutoSetLimits() {
    UpdateData(true);
    AutoSetLimits(store_, m_fAutoSetMargin);
}

void CVibrationDialog::OnReset() {
    ResetErrors(store_);
}

void CVibrationDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        QWidget* focus = focusWidget();
        if (auto* button = qobject_cast<QPushButton*>(focus)) {
            button->click();
        } else if (focus == margin_ || focus == step_) {
            // Enter is how a number is applied: the edits are taken (and a refused text
            // reported), and the window stays, with every limit set by hand.
            UpdateData(true);
        } else {
            OnOK();
        }
        event->accept();
        return;
    }
    // Escape ends the dialog as Cancel.
    QDialog::keyPressEvent(event);
}

void CVibrationDialog::OnOK() {
    if (!UpdateData(true)) {
        return;
    }
    accept();
}

void CVibrationDialog::done(int result) {
    timer_.stop();
    closing_ = true;
    QDialog::done(result);
}

void CVibrationDialog::MessageBox(const char* text) {
    ShowMessageBox(QString::fromUtf8(text));
}

void CVibrationDialog::FailureBox(const char* text, const std::string& detail) {
    ShowMessageBox(QString::fromUtf8(text), QString::fromStdString(detail));
}

bool CVibrationDialog::PumpOneMessage() {
    // One pass of the event dispatcher, without waiting: the posted events (repaints among them),
    // the window system's queued input and the timers that are due, as they stand when the pass
    // starts. Answers whether anything was dispatched.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
    return dispatcher != nullptr && dispatcher->processEvents(QEventLoop::AllEvents);
}

void CVibrationDialog::InvalidateClient() {
    update();
}

void CVibrationDialog::KillTimerAndClose() {
    timer_.stop();
    // A terminate request ends the dialog as OK without validating the edits: the program is
    // closing, and a refused edit must not keep it open with its timer gone.
    accept();
}

void CVibrationDialog::DefaultProcessing() {}

void CVibrationDialog::RunPortSelectionDialog(int& portNumber) {
    // The list shows what each COM number opens now: the profile's [Ports] as loaded at the
    // start, with the ports chosen in this run.
    std::vector<ComMapping> mappings;
    for (const auto& [number, path] : ComDeviceMapEntries()) {
        mappings.push_back(ComMapping{number, path});
    }
    CPortSelectionDialog dialog(portNumber, ports_, std::move(mappings), nullptr);
    dialog.exec();
    if (const std::optional<ComMapping>& chosen = dialog.ChosenMapping()) {
        // The next attempt opens the chosen port, whether or not the profile can keep it; the
        // saved port number goes in with the mapping, so the file never holds one without the
        // other (the connection's own save of the number then finds it there).
        SetComDevicePath(chosen->comNumber, chosen->devicePath);
        if (!profile_.WritePortChoice(chosen->comNumber, chosen->devicePath)) {
            ReportProfileProblem("The port choice could not be saved: " + profile_.Problem() +
                                 ". COM" + std::to_string(chosen->comNumber) + " opens " +
                                 chosen->devicePath + " until Sorvell ends.");
        }
    }
}

int CVibrationDialog::GetProfileInt(const char* section, const char* entry, int defaultValue) {
    const int value = profile_.GetInt(section, entry, defaultValue);
    if (!profile_.Problem().empty()) {
        ReportProfileProblem(profile_.Problem() +
                             ". Sorvell leaves it alone: the default port is used and no port "
                             "number is saved.");
    }
    return value;
}

bool CVibrationDialog::WriteProfileInt(const char* section, const char* entry, int value) {
    if (!profile_.WriteInt(section, entry, value)) {
        ReportProfileProblem("The port number could not be saved: " + profile_.Problem() + ".");
        return false;
    }
    return true;
}

void CVibrationDialog::ReportProfileProblem(const std::string& text) {
    std::cerr << "sorvell: " << text << '\n';
    // Once per run: the same trouble at every round of the port dialog is no news.
    if (!profileProblemReported_) {
        profileProblemReported_ = true;
        ShowMessageBox(QString::fromStdString(text));
    }
}

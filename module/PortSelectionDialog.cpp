#include "PortSelectionDialog.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <climits>
#include <utility>

#include "ModuleConnection.h"

namespace {

// Dialog units to pixels with the program's dialog base units of 6 x 13 pixels.
int DluX(int x) {
    return x * 6 / 4;
}
int DluY(int y) {
    return y * 13 / 8;
}

void PlaceInDlu(QWidget* widget, int x, int y, int width, int height) {
    widget->setGeometry(DluX(x), DluY(y), DluX(width), DluY(height));
}

// Pixel size of the dialog font: every control text fits its control at this size.
constexpr int DialogFontPixels = 10;

constexpr const char* IntegerExpectedText = "Please enter an integer.";

void ShowProgramMessage(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Sorvell"), text, QMessageBox::Ok, owner);
    box.exec();
}

bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

}  // namespace

bool ParseDialogInteger(const QString& text, int& value) {
    qsizetype pos = 0;
    const qsizetype end = text.size();
    while (pos < end && IsBlank(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < end && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+'))) {
        negative = text[pos] == QLatin1Char('-');
        ++pos;
    }
    const qsizetype firstDigit = pos;
    long long magnitude = 0;
    while (pos < end && text[pos] >= QLatin1Char('0') && text[pos] <= QLatin1Char('9')) {
        magnitude = magnitude * 10 + (text[pos].unicode() - u'0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) {
            return false;
        }
        ++pos;
    }
    if (pos == firstDigit) {
        return false;
    }
    while (pos < end && IsBlank(text[pos])) {
        ++pos;
    }
    if (pos != end) {
        return false;
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX || signedValue < INT_MIN) {
        return false;
    }
    value = static_cast<int>(signedValue);
    return true;
}

CPortSelectionDialog::CPortSelectionDialog(int& portNumber, QWidget* parent)
    : QDialog(parent), portNumber_(portNumber), messageSink_(ShowProgramMessage) {
    setObjectName(QStringLiteral("PortSelectionDialog"));
    setWindowTitle(QStringLiteral("Port Selection Dialog "));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont dialogFont = font();
    dialogFont.setPixelSize(DialogFontPixels);
    setFont(dialogFont);
    setFixedSize(DluX(186), DluY(95));

    // Template order, which is also the order Tab visits the tab stops.
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("IDOK"));
    okButton_->setProperty("controlId", 1);
    okButton_->setDefault(true);
    PlaceInDlu(okButton_, 129, 7, 50, 14);

    terminateButton_ = new QPushButton(QStringLiteral("Terminate Program"), this);
    terminateButton_->setObjectName(QStringLiteral("IDC_TERMINATE"));
    terminateButton_->setProperty("controlId", IDC_TERMINATE);
    PlaceInDlu(terminateButton_, 67, 75, 112, 13);

    portEdit_ = new QLineEdit(this);
    portEdit_->setObjectName(QStringLiteral("IDC_PORT_EDIT"));
    portEdit_->setProperty("controlId", IDC_PORT_EDIT);
    PlaceInDlu(portEdit_, 63, 57, 37, 12);

    firstLine_ = new QLabel(QStringLiteral("Unable to open port.  Please enter a new COM "), this);
    PlaceInDlu(firstLine_, 20, 26, 158, 8);
    secondLine_ = new QLabel(QStringLiteral("port number and click OK."), this);
    PlaceInDlu(secondLine_, 20, 38, 121, 8);

    setTabOrder(okButton_, terminateButton_);
    setTabOrder(terminateButton_, portEdit_);

    connect(okButton_, &QPushButton::clicked, this, &CPortSelectionDialog::OnOK);
    connect(terminateButton_, &QPushButton::clicked, this,
            &CPortSelectionDialog::OnTerminateProgram);
}

void CPortSelectionDialog::SetMessageSink(MessageSink sink) {
    messageSink_ = sink ? std::move(sink) : MessageSink(ShowProgramMessage);
}

bool CPortSelectionDialog::DoDataExchange(bool saveAndValidate) {
    if (!saveAndValidate) {
        portEdit_->setText(QString::number(m_nPortNumber));
        return true;
    }
    int value = 0;
    if (!ParseDialogInteger(portEdit_->text(), value)) {
        messageSink_(this, QString::fromLatin1(IntegerExpectedText));
        portEdit_->setFocus(Qt::OtherFocusReason);
        portEdit_->selectAll();
        return false;
    }
    m_nPortNumber = value;
    return true;
}

bool CPortSelectionDialog::UpdateData(bool saveAndValidate) {
    return DoDataExchange(saveAndValidate);
}

bool CPortSelectionDialog::OnInitDialog() {
    UpdateData(false);
    m_nPortNumber = portNumber_;
    UpdateData(false);
    repaint();
    return true;
}

void CPortSelectionDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
}

void CPortSelectionDialog::FrameworkOnOK() {
    if (UpdateData(true)) {
        QDialog::accept();
    }
}

void CPortSelectionDialog::OnOK() {
    // The number is taken before the framework's own check, whose result is not looked at
    // here: text that is not an integer leaves the number the dialog opened with, and the
    // framework's OK then checks the text again (saying so a second time) and keeps the dialog
    // open.
    UpdateData(true);
    portNumber_ = m_nPortNumber;
    FrameworkOnOK();
}

void CPortSelectionDialog::OnTerminateProgram() {
    portNumber_ = TerminatePortNumber;
    FrameworkOnOK();
}

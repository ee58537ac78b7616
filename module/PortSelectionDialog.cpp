#include "PortSelectionDialog.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "DataExchange.h"
#include "DialogUnits.h"
#include "ModuleConnection.h"
#include "ProgramMessageBox.h"
#include "WinSerial.h"

namespace {

// Pixel size of the dialog font: every control text fits its control at this size.
constexpr int DialogFontPixels = 10;

}  // namespace

CPortSelectionDialog::CPortSelectionDialog(int& portNumber, QWidget* parent)
    : QDialog(parent), portNumber_(portNumber) {
    setObjectName(QStringLiteral("PortSelectionDialog"));
    setWindowTitle(QStringLiteral("Port Selection Dialog "));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont dialogFont = font();
    dialogFont.setPixelSize(DialogFontPixels);
    setFont(dialogFont);
    setFixedSize(DialogSize(186, 95));

    // Template order, which is also the order Tab visits the tab stops.
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("IDOK"));
    okButton_->setProperty("controlId", IDOK);
    okButton_->setDefault(true);
    okButton_->setGeometry(DialogRect(129, 7, 50, 14));

    terminateButton_ = new QPushButton(QStringLiteral("Terminate Program"), this);
    terminateButton_->setObjectName(QStringLiteral("IDC_TERMINATE"));
    terminateButton_->setProperty("controlId", IDC_TERMINATE);
    terminateButton_->setGeometry(DialogRect(67, 75, 112, 13));

    portEdit_ = new QLineEdit(this);
    portEdit_->setObjectName(QStringLiteral("IDC_PORT_EDIT"));
    portEdit_->setProperty("controlId", IDC_PORT_EDIT);
    portEdit_->setGeometry(DialogRect(63, 57, 37, 12));

    firstLine_ = new QLabel(QStringLiteral("Unable to open port.  Please enter a new COM "), this);
    firstLine_->setGeometry(DialogRect(20, 26, 158, 8));
    secondLine_ = new QLabel(QStringLiteral("port number and click OK."), this);
    secondLine_->setGeometry(DialogRect(20, 38, 121, 8));

    setTabOrder(okButton_, terminateButton_);
    setTabOrder(terminateButton_, portEdit_);

    connect(okButton_, &QPushButton::clicked, this, &CPortSelectionDialog::OnOK);
    connect(terminateButton_, &QPushButton::clicked, this,
            &CPortSelectionDialog::OnTerminateProgram);
}

bool CPortSelectionDialog::DoDataExchange(bool saveAndValidate) {
    if (!saveAndValidate) {
        portEdit_->setText(QString::number(m_nPortNumber));
        return true;
    }
    const std::optional<int> value = ParseIntText(portEdit_->text().toStdString());
    if (!value) {
        ShowProgramMessage(this, QString::fromUtf8(ParseIntegerMessage));
        portEdit_->setFocus(Qt::OtherFocusReason);
        portEdit_->selectAll();
        return false;
    }
    m_nPortNumber = *value;
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

#include "PortSelectionDialog.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <utility>

#include "ComDeviceMap.h"
#include "DataExchange.h"
#include "DialogUnits.h"
#include "ModuleConnection.h"
#include "ProgramMessageBox.h"

namespace {

// The dialog in dialog units: the template's controls keep their places at the top, and the
// list of ports present lies under them, as wide as the dialog allows, since a USB adapter's
// stable name is long.
constexpr int DialogWidth = 352;
constexpr int DialogHeight = 182;

// Where the list entry keeps the device it names.
constexpr int DeviceRole = Qt::UserRole;

bool SameList(const std::vector<PortListEntry>& a, const std::vector<PortListEntry>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].device != b[i].device || a[i].details != b[i].details) {
            return false;
        }
    }
    return true;
}

}  // namespace

CPortSelectionDialog::CPortSelectionDialog(int& portNumber, PortListSource& ports,
                                           std::vector<ComMapping> mappings, QWidget* parent)
    : QDialog(parent), portNumber_(portNumber), ports_(ports), mappings_(std::move(mappings)) {
    setObjectName(QStringLiteral("PortSelectionDialog"));
    setWindowTitle(QStringLiteral("Port Selection Dialog "));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont dialogFont = font();
    dialogFont.setPixelSize(DialogFontPixels);
    setFont(dialogFont);
    setFixedSize(DialogSize(DialogWidth, DialogHeight));

    // Template order, which is also the order Tab visits the tab stops.
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("IDOK"));
    okButton_->setDefault(true);
    okButton_->setGeometry(DialogRect(129, 7, 50, 14));

    terminateButton_ = new QPushButton(QStringLiteral("Terminate Program"), this);
    terminateButton_->setObjectName(QStringLiteral("IDC_TERMINATE"));
    terminateButton_->setGeometry(DialogRect(67, 75, 112, 13));

    portEdit_ = new QLineEdit(this);
    portEdit_->setObjectName(QStringLiteral("IDC_PORT_EDIT"));
    portEdit_->setGeometry(DialogRect(63, 57, 37, 12));

    firstLine_ = new QLabel(QStringLiteral("Unable to open port.  Please enter a new COM "), this);
    firstLine_->setGeometry(DialogRect(20, 26, 158, 8));
    secondLine_ = new QLabel(QStringLiteral("port number and click OK."), this);
    secondLine_->setGeometry(DialogRect(20, 38, 121, 8));

    listLine_ = new QLabel(
        QStringLiteral("Serial ports present. Choose your adapter to map it to the number:"), this);
    listLine_->setGeometry(DialogRect(7, 97, DialogWidth - 14, 8));
    portList_ = new QListWidget(this);
    portList_->setObjectName(QStringLiteral("PortList"));
    portList_->setSelectionMode(QAbstractItemView::SingleSelection);
    portList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    portList_->setAlternatingRowColors(true);
    portList_->setSpacing(1);
    portList_->setGeometry(DialogRect(7, 108, DialogWidth - 14, DialogHeight - 115));
    listLine_->setBuddy(portList_);

    setTabOrder(okButton_, terminateButton_);
    setTabOrder(terminateButton_, portEdit_);
    setTabOrder(portEdit_, portList_);

    connect(okButton_, &QPushButton::clicked, this, &CPortSelectionDialog::OnOK);
    connect(terminateButton_, &QPushButton::clicked, this,
            &CPortSelectionDialog::OnTerminateProgram);
    connect(portList_, &QListWidget::itemSelectionChanged, this,
            &CPortSelectionDialog::OnPortChosen);
    connect(portList_, &QListWidget::itemDoubleClicked, this, &CPortSelectionDialog::OnOK);

    refreshTimer_.setInterval(PortListRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &CPortSelectionDialog::RefreshPortList);
    RefreshPortList();
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
    refreshTimer_.start();
}

void CPortSelectionDialog::hideEvent(QHideEvent* event) {
    refreshTimer_.stop();
    QDialog::hideEvent(event);
}

bool CPortSelectionDialog::FrameworkOnOK() {
    if (UpdateData(true)) {
        QDialog::accept();
        return true;
    }
    return false;
}

void CPortSelectionDialog::OnOK() {
    // The number is taken before the framework's own check, whose result is not looked at
    // here: text that is not an integer leaves the number the dialog opened with, and the
    // framework's OK then checks the text again (saying so a second time) and keeps the dialog
    // open.
    UpdateData(true);
    portNumber_ = m_nPortNumber;
    const PortListEntry* chosen = ChosenEntry();
    const int number = m_nPortNumber;
    if (FrameworkOnOK() && chosen != nullptr && IsComNumber(number)) {
        chosenMapping_ = ComMapping{number, chosen->device};
    }
}

void CPortSelectionDialog::OnTerminateProgram() {
    portNumber_ = TerminatePortNumber;
    FrameworkOnOK();
}

const PortListEntry* CPortSelectionDialog::ChosenEntry() const {
    const QList<QListWidgetItem*> selected = portList_->selectedItems();
    if (selected.isEmpty()) {
        return nullptr;
    }
    const int row = portList_->row(selected.front());
    if (row < 0 || static_cast<std::size_t>(row) >= entries_.size()) {
        return nullptr;
    }
    return &entries_[static_cast<std::size_t>(row)];
}

void CPortSelectionDialog::OnPortChosen() {
    const PortListEntry* chosen = ChosenEntry();
    if (chosen == nullptr) {
        return;
    }
    const int number =
        ComNumberForChoice(entries_, static_cast<std::size_t>(chosen - entries_.data()), mappings_);
    // With every number taken by another port present, the number in the edit is the user's.
    if (number != 0) {
        m_nPortNumber = number;
        UpdateData(false);
    }
}

void CPortSelectionDialog::RefreshPortList() {
    std::vector<PortListEntry> fresh = ListPorts(ports_, mappings_);
    if (SameList(fresh, entries_) && portList_->count() > 0) {
        return;
    }
    const PortListEntry* chosen = ChosenEntry();
    const QString chosenDevice = chosen ? QString::fromStdString(chosen->device) : QString();
    entries_ = std::move(fresh);

    // Rebuilding the list is no choice of the user's: the number in the edit stays.
    const QSignalBlocker quiet(portList_);
    portList_->clear();
    for (const PortListEntry& entry : entries_) {
        const QString device = QString::fromStdString(entry.device);
        auto* item = new QListWidgetItem(
            device + QLatin1Char('\n') + QString::fromStdString(entry.details), portList_);
        item->setData(DeviceRole, device);
        item->setToolTip(QString::fromStdString(entry.Line()));
        if (!chosenDevice.isEmpty() && device == chosenDevice) {
            item->setSelected(true);
            portList_->setCurrentItem(item);
        }
    }
    if (entries_.empty()) {
        auto* item = new QListWidgetItem(QString::fromUtf8(NoPortPresentText), portList_);
        item->setFlags(Qt::NoItemFlags);
    }
}

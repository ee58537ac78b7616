#include "AboutDialog.h"

#include <QLabel>
#include <QPushButton>

#include "ApplicationLook.h"
#include "DialogUnits.h"

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About Sorvell"));
    setFont(DialogFont());
    setFixedSize(DialogSize(235, 55));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(ApplicationIcon().pixmap(32, 32));
    // A static icon takes the size of its icon at the template's position.
    icon->setGeometry(QRect(DialogRect(11, 17, 20, 20).topLeft(), QSize(32, 32)));

    auto* version = new QLabel(QString::fromUtf8(AboutVersionText), this);
    version->setTextFormat(Qt::PlainText);
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    version->setGeometry(DialogRect(40, 10, 119, 8));

    auto* second = new QLabel(QString::fromUtf8(AboutSecondLineText), this);
    second->setTextFormat(Qt::PlainText);
    second->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    second->setGeometry(DialogRect(40, 25, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    ok->setGeometry(DialogRect(178, 7, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

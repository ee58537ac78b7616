// Icon 128, the program's icon, as the window, its minimised picture and the About box show it.
#pragma once

#include <QIcon>
#include <QString>

// The icon of the running program: the images installed with it where there are any (a program
// installed as PREFIX/bin/sorvell finds them in PREFIX/share/icons/hicolor), else the 16 x 16
// and 32 x 32 images built into it, which are the same pictures.
QIcon ApplicationIcon();

// The same for a program whose executable lies in programFolder.
QIcon ApplicationIconFor(const QString& programFolder);

#include "PortSelectionDialog.h"

CPortSelectionDialog::CPortSelectionDialog(int& portNumber, QWidget* parent)
    : QDialog(parent), portNumber_(portNumber) {}

#pragma once

#include "ui/windowkit.h"

// The About box: the program's name and icon, its full and short version,
// the product's web address and the licence line.
class TfrmAbout : public TBaseDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget *parent = nullptr);
    static void Execute(QWidget *parent = nullptr);

    // "Licensed under the Bundlewick licence agreement: <address>".
    static QString LicenceLine();
};

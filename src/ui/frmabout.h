#pragma once

#include "ui/windowkit.h"

// The About box: the program's name and icon, its full and short version,
// the product's web address when the build names one, and the licence line,
// whose link shows the licence installed with the program.
class TfrmAbout : public TBaseDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget *parent = nullptr);
    static void Execute(QWidget *parent = nullptr);
};

#include "ui/frmabout.h"

#include "core/productinfo.h"
#include "core/winutils.h"
#include "data/fdata.h"
#include "ui/appicon.h"
#include "ui/help.h"
#include "ui/shellutils.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel *Line(QWidget *parent, const char *sName, const QString &sText)
{
    auto *label = new QLabel(sText, parent);
    label->setObjectName(QLatin1String(sName));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse
                                   | Qt::LinksAccessibleByKeyboard);
    return label;
}

QString Link(const QString &sAddress, const QString &sText)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(sAddress.toHtmlEscaped(), sText.toHtmlEscaped());
}

} // namespace

TfrmAbout::TfrmAbout(QWidget *parent)
    : TBaseDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Bundlewick"));
    SetHelpContext(kHelpLicenceTopic);
    setWindowIcon(AppIcon());

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imgIcon"));
    const int iIcon = fontMetrics().height() * 4;
    icon->setPixmap(AppIcon().pixmap(iIcon, iIcon));
    icon->setAlignment(Qt::AlignTop);

    auto *lblName = Line(this, "lblName", QStringLiteral("Bundlewick %1").arg(TFData::ShortAppVersion()));
    QFont big = lblName->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    lblName->setFont(big);
    auto *lblVersion = Line(this, "lblVersion", QStringLiteral("Version %1").arg(AppVersion()));
    auto *lblPurpose = Line(this, "lblPurpose",
                            QStringLiteral("Collects, zips and delivers the source code of your projects."));
    // Shown only when the build names a web site.
    auto *lblWeb = Line(this, "lblWeb", Link(QString(ProductWebSite), QString(ProductWebSite)));
    lblWeb->setVisible(!ProductWebSite.isEmpty());
    auto *lblLicence = Line(this, "lblLicence",
                            QStringLiteral("Licensed to you under the <a href=\"licence\">MIT licence</a>."));
    lblWeb->setTextFormat(Qt::RichText);
    lblWeb->setOpenExternalLinks(false);
    connect(lblWeb, &QLabel::linkActivated, this, [](const QString &sLink) { OpenURL(sLink); });
    // The licence text installed with the program, in the help window.
    lblLicence->setTextFormat(Qt::RichText);
    lblLicence->setOpenExternalLinks(false);
    connect(lblLicence, &QLabel::linkActivated, this, [] { ShowHelp(kHelpLicenceTopic); });
    lblLicence->setWordWrap(true);

    auto *btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *text = new QVBoxLayout();
    text->setSpacing(kFormMargin / 2);
    text->addWidget(lblName);
    text->addWidget(lblVersion);
    text->addWidget(lblPurpose);
    text->addSpacing(kFormMargin / 2);
    text->addWidget(lblWeb);
    text->addWidget(lblLicence);
    auto *top = new QHBoxLayout();
    top->setSpacing(kFormMargin);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto *buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(btnClose);
    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addLayout(top);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmAbout::Execute(QWidget *parent)
{
    TfrmAbout frm(parent);
    frm.exec();
}

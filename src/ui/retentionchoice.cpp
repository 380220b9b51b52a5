#include "ui/retentionchoice.h"

#include "core/globals.h"
#include "delivery/retention.h"
#include "delivery/s3staging.h"
#include "network/s3settings.h"

#include <QComboBox>
#include <QStandardItemModel>

void LimitRetentionChoices(QComboBox *cbRetain)
{
    auto *model = qobject_cast<QStandardItemModel *>(cbRetain->model());
    if (!model)
        return;
    const bool bS3 = DB && StagingKindSetting() == TStagingKind::S3;
    const TS3Settings s3 = bS3 ? TS3Settings::FromSettings() : TS3Settings();
    static const char *const kChoices[] = { "one day", "one week", "one month", "one year", "forever" };
    for (int i = 0; i < model->rowCount() && i <= rpForever; ++i) {
        QStandardItem *item = model->item(i);
        const bool bAllowed = !bS3 || S3PeriodAllowed(s3, i);
        item->setEnabled(bAllowed);
        item->setText(bAllowed ? QString::fromLatin1(kChoices[i])
                               : QString::fromLatin1(kChoices[i])
                              + QStringLiteral(" (needs the S3 public address)"));
        item->setToolTip(bAllowed ? QString() : S3PeriodNote());
    }
}

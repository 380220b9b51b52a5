#include "core/settingkeys.h"

#include "core/globals.h"
#include "core/settings.h"
#include "core/winutils.h"

#include <QDate>

QString TSettingKey::Text() const
{
    return GetSetting(FName);
}

void TSettingKey::SetText(const QString &sValue) const
{
    SetSetting(FName, sValue);
}

int TSettingKey::AsInt(int iDefault) const
{
    bool ok = false;
    const int iValue = Text().trimmed().toInt(&ok);
    return ok ? iValue : iDefault;
}

void TSetting<int>::Set(int iValue) const
{
    SetText(QString::number(iValue));
}

bool TSetting<bool>::Get() const
{
    const QString sText = Text();
    switch (FRule) {
    case TFlagRule::UnlessZero:
        return sText != QLatin1String("0");
    case TFlagRule::ExactlyOne:
        return sText == QLatin1String("1");
    case TFlagRule::IntegerOne:
        return AsInt(0) == 1;
    }
    return false;
}

void TSetting<bool>::Set(bool bValue) const
{
    SetText(bValue ? QStringLiteral("1") : QStringLiteral("0"));
}

int TodayDayCount()
{
    return int(QDate(1899, 12, 30).daysTo(QDate::currentDate()));
}

namespace Param {

QString DesktopFolder()
{
    return SpecialFolder(CSIDL_DESKTOP);
}

QString DocumentsFolder()
{
    return SpecialFolder(CSIDL_PERSONAL);
}

QString DataFolder()
{
    return AppDataDir;
}

int YearAgoDay()
{
    return TodayDayCount() - 365;
}

} // namespace Param

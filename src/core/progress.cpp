#include "core/progress.h"

TProgressList::TProgressList(QObject *parent)
    : QObject(parent)
{ }

void TProgressList::AddLine(const QString &sLine, int iFlag)
{
    AddLine(TProgressLine { sLine, iFlag, QString(), TProgressLine::tkNone });
}

void TProgressList::AddLine(const TProgressLine &line)
{
    if (!FLines.isEmpty() && FLines.last().iFlag == 1) {
        FLines.last() = line;
        Q_EMIT lineChanged(Count() - 1);
    } else {
        FLines.append(line);
        Q_EMIT lineAppended(Count() - 1);
    }
}

QString TProgressList::FailureSince(int iFrom) const
{
    for (qsizetype i = qMax(0, iFrom); i < FLines.size(); ++i)
        if (FLines.at(i).sText.startsWith(QLatin1Char('!')))
            return FLines.at(i).sText.mid(1).trimmed();
    return QString();
}

void TProgressList::AddTargetFmt(int iTargetKind, const QString &sTarget, const QString &sFormat,
                                 std::initializer_list<TFmtArg> args)
{
    AddLine(TProgressLine { SQLFormat(sFormat, args), 0, sTarget, iTargetKind });
}

void TProgressList::AddProgressFmt(const QString &sFormat, std::initializer_list<TFmtArg> args)
{
    AddProgress(SQLFormat(sFormat, args));
}

void TProgressList::ShowProgress(const QString &sName, qint64 iCount)
{
    AddLine(SQLFormat(QStringLiteral("%s progress: %d"), { sName, iCount }), 1);
}

void TProgressList::Clear()
{
    FLines.clear();
    Q_EMIT cleared();
}

QString TProgressList::SaveText() const
{
    QString text;
    for (const TProgressLine &line : FLines) {
        text += line.sText;
        text += QLatin1String("\r\n");
    }
    return text;
}

void ForwardLines(TProgressList &oSource, std::function<void(const TProgressLine &line)> fnLine)
{
    const auto forward = [&oSource, fnLine](int iIndex) { fnLine(oSource.Lines().at(iIndex)); };
    QObject::connect(&oSource, &TProgressList::lineAppended, &oSource, forward, Qt::DirectConnection);
    QObject::connect(&oSource, &TProgressList::lineChanged, &oSource, forward, Qt::DirectConnection);
}

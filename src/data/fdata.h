#pragma once

#include "core/winutils.h"

#include <QObject>
#include <QString>
#include <functional>

class QTimer;

// The application data module: alive from before the main window until the
// end of the run. Creating it starts the diagnostics logger (DiagLog), opens
// and upgrades the main database (DB), prunes the delivery log and removes a
// downloaded installer; destroying it closes the database and ends the logger.
// Both globals must be unset when it is created. Runs on the UI thread only;
// every job must have ended before it is destroyed.
class TFData : public QObject
{
    Q_OBJECT

public:
    // Runs DataModuleCreate. When that fails, whatever it had set up is torn
    // down again before the exception (ESQLiteException for the database)
    // leaves the constructor.
    explicit TFData(QObject *parent = nullptr);
    // Runs DataModuleDestroy.
    ~TFData() override;
    TFData(const TFData &) = delete;
    TFData &operator=(const TFData &) = delete;

    // Fires 30 s after creation; the expiry work sets the hourly interval.
    QTimer *tmExpire = nullptr;
    // Called by tmExpireTimer; set by the retention code.
    std::function<void()> OnExpire;

    // The program's own download folder, AppDataDir + "download/": the only
    // place whose file the "Download file" parameter may name.
    static QString DownloadDir();

    // "information,sql,verbose" when the parameter "Verbose debugging" was on,
    // otherwise "information"; computed once, and the switch is reset at once
    // so that verbose tracing lasts one run.
    QString GetLogFlags();

    // "1.0.5 build 7" gives "1 BETA", "1.2.3 build 83" gives "1.2".
    static QString ShortAppVersion(const QString &sVersion = AppVersion());

    // Kept by their owners instead: send tasks (TSendTask), SaveLog
    // (delivery log), SaveFileExpiry (retention), MatchWildCardCount and
    // MatchWildCardList (file entries), ReportZip (error report).

public Q_SLOTS:
    // Runs OnExpire (the expiry checker, which never overlaps a delivery).
    void tmExpireTimer();

private:
    void DataModuleCreate();
    void DataModuleDestroy();
    void UpdateSchema();
    void PruneLog();
    void DeleteDownloadedFile();

    QString FLogFlags;
};

// The one data module; created by the start-up code before the main window.
extern TFData *FData;

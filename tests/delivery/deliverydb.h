#pragma once

#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "core/winutils.h"
#include "delivery/sendtask.h"
#include "diagnostics/diaglog.h"
#include "support/testenv.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>

// A sandbox with a real, upgraded main database as DB and, on request, a
// diagnostics logger as DiagLog, both in the sandbox.
class DeliveryDB : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    std::unique_ptr<TSQLiteDatabase> db;
    std::unique_ptr<TDiagLog> log;
    bool diag = false; // DiagLog is set: diagnostics can be checked

    void SetUp() override
    {
        db = std::make_unique<TSQLiteDatabase>(sandbox.path(QStringLiteral("bundlewick.sqlite")));
        int iOld = 0, iNew = 0;
        TUpdateCheck::UpdateDatabase(*db, iOld, iNew);
        DB = db.get();
    }
    void TearDown() override
    {
        DiagLog = nullptr;
        if (log) {
            log->Terminate();
            log->WaitFor();
            log.reset();
        }
        DB = nullptr;
    }
    // Starts the logger as DiagLog; false (and no logger) under
    // ThreadSanitizer, which loses track of a thread started after the test
    // servers' fork and then reports the logger's queue hand-over as a race
    // (before the fork is no option: it refuses threads after a
    // multi-threaded fork).
    bool startDiag()
    {
#ifdef BW_TSAN
        return diag = false;
#endif
        log = std::make_unique<TDiagLog>(sandbox.path(QStringLiteral("diag")) + QLatin1Char('/'),
                                         QStringLiteral("information"), QString());
        DiagLog = log.get();
        return diag = true;
    }

    // "why|where|what" of every event this test logged, oldest first.
    QStringList diagEvents()
    {
        log->LogFlush();
        TSQLiteDatabase file(log->LogFile());
        // The log's writer thread may hold the file a moment, longer than a
        // test's shortened busy wait on a loaded machine.
        file.SetTimeout(30000);
        auto table = file.GetTable(QStringLiteral("SELECT why, `where`, what FROM events WHERE `where` <> '' "
                                                  "AND `where` NOT LIKE 'TDiagLog%' ORDER BY id"));
        QStringList out;
        while (!table->Eof()) {
            out << QStringLiteral("%1|%2|%3")
                       .arg(table->FieldAsInteger(0))
                       .arg(table->FieldAsString(1), table->FieldAsString(2));
            table->Next();
        }
        return out;
    }

    // Sets the setting, replacing an earlier value.
    void setting(const QString &sName, const QString &sValue)
    {
        db->ExecSQLFmt(QStringLiteral("DELETE FROM settings WHERE name = '%s'"), { SQLEscape(sName) });
        db->ExecSQLFmt(QStringLiteral("INSERT INTO settings (name, value) VALUES ('%s', '%s')"),
                       { SQLEscape(sName), SQLEscape(sValue) });
    }
    // The task as the delivery loads it; a send row is made for a bare id.
    TSendTask task(int iSendID)
    {
        db->Exec(QStringLiteral("INSERT OR IGNORE INTO send (id, id_projects, type, zippassword) "
                                "VALUES (?, 1, 0, '')"),
                 { iSendID });
        return TSendTask::Load(iSendID).value();
    }
    void param(int iSendID, const QString &sName, const QString &sValue)
    {
        db->ExecSQLFmt(
            QStringLiteral("INSERT INTO sendparams (id_send, name, value) VALUES (%d, '%s', '%s')"),
            { iSendID, SQLEscape(sName), SQLEscape(sValue) });
    }
    int retentionCount()
    {
        return db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM retention"), {});
    }

    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static QByteArray archiveBytes(int iSize)
    {
        QByteArray bytes(iSize, '\0');
        for (int i = 0; i < iSize; ++i)
            bytes[i] = char(i * 7 + i / 256);
        return bytes;
    }
};

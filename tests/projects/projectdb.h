#pragma once

#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "support/testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <memory>

// A sandbox with a real, upgraded main database installed as the global DB.
class ProjectDB : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    std::unique_ptr<TSQLiteDatabase> db;

    void SetUp() override
    {
        db = std::make_unique<TSQLiteDatabase>(sandbox.path(QStringLiteral("bundlewick.sqlite")));
        int iOld = 0, iNew = 0;
        TUpdateCheck::UpdateDatabase(*db, iOld, iNew);
        DB = db.get();
    }
    void TearDown() override { DB = nullptr; }

    // senddate < 0 stores NULL.
    int addProject(int iType, const QString &sTitle, double dSendDate = -1)
    {
        if (dSendDate < 0)
            db->ExecSQLFmt(
                QStringLiteral("INSERT INTO projects (type, title, senddate) VALUES (%d, '%s', NULL)"),
                { iType, sTitle });
        else
            db->ExecSQLFmt(
                QStringLiteral("INSERT INTO projects (type, title, senddate) VALUES (%d, '%s', %g)"),
                { iType, sTitle, dSendDate });
        return int(db->LastInsertRowID());
    }
    int addEntry(int iProject, const QString &sText)
    {
        db->ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                       { iProject, sText });
        return int(db->LastInsertRowID());
    }
    QString file(const QString &relative, const QByteArray &bytes = "x")
    {
        return sandbox.writeFile(relative, bytes);
    }
    static void setMTime(const QString &path, const QDateTime &dt)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(dt, QFileDevice::FileModificationTime));
    }
};

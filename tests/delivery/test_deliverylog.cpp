#include "../projects/projectdb.h"
#include "archive/archivebuilder.h"
#include "delivery/deliverylog.h"
#include "delivery/sendtasks.h"
#include "projects/project.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

class DeliveryLogRows : public ProjectDB
{
};

} // namespace

TEST_F(DeliveryLogRows, KeepTextsUnchanged)
{
    auto p = CreateProject(pkGeneric, 1, u"Bob's Tool"_s, QString());
    const QString name = TArchiveBuilder::ArchiveName(*p, u"1.0.0"_s);
    SaveLog(true, lsZipAndDeliver, 3, skFTP, name, u"ftp.example.org"_s);
    SaveLog(false, lsZipAndDeliver, 3, skFile, name, u"/srv/O'Brien's share"_s);
    SaveLog(true, lsQuickSend, 1, skEmail, u"notes.txt"_s, u"a@b.c"_s);

    auto t = db->GetTable(u"SELECT success, source, filename, files, method, destination, modified "
                          "FROM log ORDER BY id"_s);
    QStringList rows;
    const QRegularExpression utc(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"_s);
    for (; !t->Eof(); t->Next()) {
        QStringList cols;
        for (int i = 0; i < 6; ++i)
            cols << t->FieldAsString(i);
        rows << cols.join(u'|');
        EXPECT_TRUE(utc.match(t->FieldAsString(6)).hasMatch()) << t->FieldAsString(6).toStdString();
    }
    t.reset();
    EXPECT_EQ(rows,
              (QStringList { u"1|1|Bob'sTool_1.0.0.zip|3|2|ftp.example.org"_s,
                             u"0|1|Bob'sTool_1.0.0.zip|3|1|/srv/O'Brien's share"_s,
                             u"1|2|notes.txt|1|0|a@b.c"_s }));
}

TEST(DeliveryLog, CodeTexts)
{
    EXPECT_EQ(SuccessText(1), u"Yes"_s);
    EXPECT_EQ(SuccessText(0), u"No"_s);
    EXPECT_EQ(SourceText(1), u"ZipAndDeliver"_s);
    EXPECT_EQ(SourceText(2), u"QuickSend"_s);
    EXPECT_EQ(SourceText(0), QString());
    EXPECT_EQ(MethodText(0), u"Email"_s);
    EXPECT_EQ(MethodText(1), u"File"_s);
    EXPECT_EQ(MethodText(2), u"FTP"_s);
    EXPECT_EQ(MethodText(3), QString());
}

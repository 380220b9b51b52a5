#include "core/sqlite.h"

#include <QRegularExpression>
#include <QStringView>
#include <limits>
#include <sqlite3.h>

namespace {

// The engine takes the statement length as int; a longer text is refused
// instead of being cut off silently.
int checkedLength(const QByteArray &bytes)
{
    if (bytes.size() > std::numeric_limits<int>::max())
        throw ESQLiteException(QStringLiteral("Text too long for SQLite"));
    return int(bytes.size());
}

struct StmtDeleter
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// Values queued for one statement never outlive it, whatever happens.
struct TClearParams
{
    QList<TSQliteParam> &params;
    ~TClearParams() { params.clear(); }
};

int systemCollate(void *, int len1, const void *buf1, int len2, const void *buf2)
{
    // The engine hands over byte counts of UTF-16 text.
    const QStringView a(static_cast<const char16_t *>(buf1), len1 / 2);
    const QStringView b(static_cast<const char16_t *>(buf2), len2 / 2);
    const int r = QString::localeAwareCompare(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

} // namespace

QString StatementSummary(const QString &SQL)
{
    // Literals go first: a value spliced into older statements must not
    // pass for a table name.
    static const QRegularExpression literals(QStringLiteral("'(?:[^']|'')*'?"));
    static const QRegularExpression verb(
        QStringLiteral("^\\s*(INSERT(?:\\s+OR\\s+\\w+)?\\s+INTO|REPLACE\\s+INTO|UPDATE(?:\\s+OR\\s+\\w+)?|"
                       "DELETE\\s+FROM|CREATE\\s+(?:UNIQUE\\s+)?\\w+(?:\\s+IF\\s+NOT\\s+EXISTS)?|"
                       "DROP\\s+\\w+(?:\\s+IF\\s+EXISTS)?|ALTER\\s+TABLE)\\s+([\\w.]+|\"[^\"]*\")"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression select(QStringLiteral("^\\s*SELECT\\b.*?\\bFROM\\s+([\\w.]+)"),
                                           QRegularExpression::CaseInsensitiveOption
                                               | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression word(QStringLiteral("^\\s*(\\w+)"));
    QString sql = SQL;
    sql.replace(literals, QStringLiteral("?"));
    QRegularExpressionMatch m = verb.match(sql);
    if (m.hasMatch())
        return m.captured(1).simplified().toUpper() + QLatin1Char(' ') + m.captured(2);
    m = select.match(sql);
    if (m.hasMatch())
        return QStringLiteral("SELECT FROM ") + m.captured(1);
    m = word.match(sql);
    return m.hasMatch() ? m.captured(1).toUpper() : QStringLiteral("SQL");
}

QString SQLiteErrorStr(int SQLiteErrorCode)
{
    switch (SQLiteErrorCode) {
    case 0:
        return QStringLiteral("Successful result");
    case 1:
        return QStringLiteral("SQL error or missing database");
    case 2:
        return QStringLiteral("An internal logic error in SQLite");
    case 3:
        return QStringLiteral("Access permission denied");
    case 4:
        return QStringLiteral("Callback routine requested an abort");
    case 5:
        return QStringLiteral("The database file is locked");
    case 6:
        return QStringLiteral("A table in the database is locked");
    case 7:
        return QStringLiteral("A malloc() failed");
    case 8:
        return QStringLiteral("Attempt to write a readonly database");
    case 9:
        return QStringLiteral("Operation terminated by sqlite3_interrupt()");
    case 10:
        return QStringLiteral("Some kind of disk I/O error occurred");
    case 11:
        return QStringLiteral("The database disk image is malformed");
    case 12:
        return QStringLiteral("(Internal Only) Table or record not found");
    case 13:
        return QStringLiteral("Insertion failed because database is full");
    case 14:
        return QStringLiteral("Unable to open the database file");
    case 15:
        return QStringLiteral("Database lock protocol error");
    case 16:
        return QStringLiteral("Database is empty");
    case 17:
        return QStringLiteral("The database schema changed");
    case 18:
        return QStringLiteral("Too much data for one row of a table");
    case 19:
        return QStringLiteral("Abort due to contraint violation");
    case 20:
        return QStringLiteral("Data type mismatch");
    case 21:
        return QStringLiteral("Library used incorrectly");
    case 22:
        return QStringLiteral("Uses OS features not supported on host");
    case 23:
        return QStringLiteral("Authorization denied");
    case 24:
        return QStringLiteral("Auxiliary database format error");
    case 25:
        return QStringLiteral("2nd parameter to sqlite3_bind out of range");
    case 26:
        return QStringLiteral("File opened that is not a database file");
    case 100:
        return QStringLiteral("sqlite3_step() has another row ready");
    case 101:
        return QStringLiteral("sqlite3_step() has finished executing");
    default:
        return QStringLiteral("Unknown SQLite Error Code \"%1\"").arg(SQLiteErrorCode);
    }
}

int DeclTypeToColType(const QString &declType)
{
    // A substring test of the declared type within each list: "int" and
    // "char" match, "varchar(20)" and an empty type do not.
    const QString t = declType.toLower();
    if (t == QLatin1String("blob"))
        return dtBlob;
    if (t.isEmpty())
        return dtNull;
    if (QLatin1String("integer,boolean").contains(t))
        return dtInt;
    if (QLatin1String("string,text,char,varchar").contains(t))
        return dtStr;
    if (QLatin1String("numeric,float,double").contains(t))
        return dtNumeric;
    return dtNull;
}

// ---------------------------------------------------------------------------

TSQLiteDatabase::TSQLiteDatabase(const QString &fileName)
{
    const QByteArray name = fileName.toUtf8();
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open(name.constData(), &db);
    if (rc != SQLITE_OK) {
        QString reason = QStringLiteral("Unknown error");
        if (db) {
            reason = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_close(db);
        }
        throw ESQLiteException(QStringLiteral("Failed to open database \"%1\" : %2").arg(fileName, reason));
    }
    FSQLiteDB = db;
}

TSQLiteDatabase::~TSQLiteDatabase()
{
    FPause = true;
    // close_v2 keeps the connection alive until a forgotten table is finalized
    // instead of leaking it.
    sqlite3_close_v2(FSQLiteDB);
}

void TSQLiteDatabase::RaiseError(const QString &sMessage, const QString &sSQL) const
{
    const int code = sqlite3_errcode(FSQLiteDB);
    const char *msg = sqlite3_errmsg(FSQLiteDB);
    if (code != SQLITE_OK && msg && *msg) {
        throw ESQLiteException(sMessage
                               + QStringLiteral(".\r\nError [%1]: %2.\r\n%3: %4")
                                     .arg(QString::number(code), SQLiteErrorStr(code), StatementSummary(sSQL),
                                          QString::fromUtf8(msg)));
    }
    throw ESQLiteException(sMessage);
}

void TSQLiteDatabase::DoQuery(const QString &SQL)
{
    if (OnQuery)
        OnQuery(this, SQL);
}

void TSQLiteDatabase::BindParams(sqlite3_stmt *Stmt)
{
    // The queue is consumed whatever happens while binding.
    const QList<TSQliteParam> params = std::exchange(fParams, {});
    for (const TSQliteParam &p : params) {
        const int idx = p.position > 0 ? p.position : sqlite3_bind_parameter_index(Stmt, p.name.constData());
        if (idx <= 0)
            continue;
        int rc = SQLITE_OK;
        switch (p.valuetype) {
        case dtInt:
            rc = sqlite3_bind_int64(Stmt, idx, p.valueinteger);
            break;
        case dtNumeric:
            rc = sqlite3_bind_double(Stmt, idx, p.valuefloat);
            break;
        case dtStr:
            rc = sqlite3_bind_text64(Stmt, idx, p.valuedata.constData(), sqlite3_uint64(p.valuedata.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        default:
            rc = sqlite3_bind_null(Stmt, idx);
            break;
        }
        if (rc != SQLITE_OK)
            RaiseError(QStringLiteral("Error binding parameter %1").arg(idx), QString());
    }
}

namespace {

// Prepares the first statement of the text, raising the layer's errors.
StmtPtr prepareStatement(sqlite3 *db, const QString &SQL, const std::function<void(const QString &)> &raise)
{
    const QByteArray sql = SQL.toUtf8();
    sqlite3_stmt *stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.constData(), checkedLength(sql), &stmt, nullptr);
    StmtPtr guard(stmt);
    if (rc != SQLITE_OK)
        raise(QStringLiteral("Error executing SQL"));
    if (!stmt)
        raise(QStringLiteral("Could not prepare SQL statement"));
    return guard;
}

} // namespace

void TSQLiteDatabase::ExecSQL(const QString &SQL)
{
    if (FPause)
        return;
    StmtPtr stmt = prepareStatement(FSQLiteDB, SQL, [&](const QString &m) { RaiseError(m, SQL); });
    DoQuery(SQL);
    BindParams(stmt.get());
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        RaiseError(QStringLiteral("Error executing SQL statement"), SQL);
    }
}

void TSQLiteDatabase::ExecSQLFmt(const QString &SQL, std::initializer_list<TFmtArg> args)
{
    const QString sql = SQLFormat(SQL, args);
    ExecSQL(sql);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::GetTable(const QString &SQL, bool bPrepareOnly)
{
    if (FPause)
        return nullptr;
    return std::make_unique<TSQLiteTable>(*this, SQL, bPrepareOnly);
}

std::unique_ptr<TSQLiteTable>
TSQLiteDatabase::GetTableFmt(const QString &SQL, std::initializer_list<TFmtArg> args, bool bPrepareOnly)
{
    const QString sql = SQLFormat(SQL, args);
    return GetTable(sql, bPrepareOnly);
}

int TSQLiteDatabase::QueryIntegerFmt(const QString &SQL, std::initializer_list<TFmtArg> args)
{
    const QString sql = SQLFormat(SQL, args);
    return int(quint32(quint64(GetTableValue(sql))));
}

double TSQLiteDatabase::QueryDoubleFmt(const QString &SQL, std::initializer_list<TFmtArg> args)
{
    const QString sql = SQLFormat(SQL, args);
    const auto table = GetTable(sql);
    if (!table || table->Eof())
        return 0.0;
    return table->FieldAsDouble(0);
}

QString TSQLiteDatabase::QueryStringFmt(const QString &SQL, std::initializer_list<TFmtArg> args)
{
    return GetTableString(SQLFormat(SQL, args));
}

void TSQLiteDatabase::QueueValues(std::initializer_list<TFmtArg> values)
{
    fParams.clear();
    int position = 0;
    for (const TFmtArg &value : values) {
        TSQliteParam p;
        p.position = ++position;
        switch (value.kind()) {
        case TFmtArg::Kind::Integer:
            p.valuetype = dtInt;
            p.valueinteger = value.asInteger();
            break;
        case TFmtArg::Kind::Float:
            p.valuetype = dtNumeric;
            p.valuefloat = value.asFloat();
            break;
        case TFmtArg::Kind::Text:
            // Empty text stays text ('' as the spliced statements had it), never NULL.
            p.valuetype = dtStr;
            p.valuedata = value.asText().toUtf8();
            break;
        }
        fParams.append(p);
    }
}

void TSQLiteDatabase::Exec(const QString &SQL, std::initializer_list<TFmtArg> values)
{
    QueueValues(values);
    const TClearParams clear { fParams }; // also when paused or when preparing fails
    ExecSQL(SQL);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::Query(const QString &SQL,
                                                     std::initializer_list<TFmtArg> values)
{
    QueueValues(values);
    const TClearParams clear { fParams };
    return GetTable(SQL);
}

qint64 TSQLiteDatabase::QueryInteger(const QString &SQL, std::initializer_list<TFmtArg> values)
{
    const auto table = Query(SQL, values);
    return table && !table->Eof() ? table->FieldAsInteger(0) : 0;
}

double TSQLiteDatabase::QueryDouble(const QString &SQL, std::initializer_list<TFmtArg> values)
{
    const auto table = Query(SQL, values);
    return table && !table->Eof() ? table->FieldAsDouble(0) : 0.0;
}

QString TSQLiteDatabase::QueryString(const QString &SQL, std::initializer_list<TFmtArg> values)
{
    const auto table = Query(SQL, values);
    return table && !table->Eof() ? table->FieldAsString(0) : QString();
}

qint64 TSQLiteDatabase::GetTableValue(const QString &SQL)
{
    const auto table = GetTable(SQL);
    if (!table || table->Eof())
        return 0;
    return table->FieldAsInteger(0);
}

QString TSQLiteDatabase::GetTableString(const QString &SQL)
{
    const auto table = GetTable(SQL);
    if (!table || table->Eof())
        return QString();
    return table->FieldAsString(0);
}

void TSQLiteDatabase::GetTableStrings(const QString &SQL, QStringList &Value)
{
    Value.clear();
    const auto table = GetTable(SQL);
    if (!table)
        return;
    while (!table->Eof()) {
        Value.append(table->FieldAsString(0));
        table->Next();
    }
}

bool TSQLiteDatabase::InTransaction() const
{
    return sqlite3_get_autocommit(FSQLiteDB) == 0;
}

void TSQLiteDatabase::Start(const QString &name, const QString &param)
{
    if (!name.isEmpty())
        ExecSQL(QStringLiteral("SAVEPOINT ") + name);
    else if (!param.isEmpty())
        ExecSQL(QStringLiteral("BEGIN ") + param);
    else
        ExecSQL(QStringLiteral("BEGIN"));
}

void TSQLiteDatabase::Commit(const QString &name)
{
    ExecSQL(name.isEmpty() ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE ") + name);
}

void TSQLiteDatabase::Rollback(const QString &name)
{
    ExecSQL(name.isEmpty() ? QStringLiteral("ROLLBACK") : QStringLiteral("ROLLBACK TO ") + name);
}

TTransaction::TTransaction(TSQLiteDatabase &db)
    : FDB(db)
{
    FDB.Start(QStringLiteral("bw_transaction"));
}

TTransaction::~TTransaction()
{
    if (FDone)
        return;
    try {
        FDB.Rollback(QStringLiteral("bw_transaction"));
        FDB.Commit(QStringLiteral("bw_transaction"));
    } catch (...) {
        // Already unwinding from the failure that matters.
    }
}

void TTransaction::Commit()
{
    FDB.Commit(QStringLiteral("bw_transaction"));
    FDone = true;
}

qint64 TSQLiteDatabase::LastInsertRowID() const
{
    return sqlite3_last_insert_rowid(FSQLiteDB);
}

qint64 TSQLiteDatabase::LastChangedRows() const
{
    return sqlite3_changes64(FSQLiteDB);
}

void TSQLiteDatabase::SetTimeout(int Value)
{
    FTimeout = Value;
    sqlite3_busy_timeout(FSQLiteDB, Value);
}

QString TSQLiteDatabase::Version() const
{
    return QString::fromUtf8(sqlite3_libversion());
}

void TSQLiteDatabase::AddCustomCollate(const QString &name, TCollateXCompare xCompare)
{
    const QByteArray n = name.toUtf8();
    if (sqlite3_create_collation(FSQLiteDB, n.constData(), SQLITE_UTF8, nullptr, xCompare) != SQLITE_OK)
        RaiseError(QStringLiteral("Could not add collation"), name);
}

void TSQLiteDatabase::AddSystemCollate()
{
    if (sqlite3_create_collation(FSQLiteDB, "SYSTEM", SQLITE_UTF16LE, nullptr, &systemCollate) != SQLITE_OK)
        RaiseError(QStringLiteral("Could not add collation"), QStringLiteral("SYSTEM"));
}

void TSQLiteDatabase::ParamsClear()
{
    fParams.clear();
}

void TSQLiteDatabase::AddParamInt(const QString &name, qint64 value)
{
    TSQliteParam p;
    p.name = name.toUtf8();
    p.valuetype = dtInt;
    p.valueinteger = value;
    fParams.append(std::move(p));
}

void TSQLiteDatabase::AddParamFloat(const QString &name, double value)
{
    TSQliteParam p;
    p.name = name.toUtf8();
    p.valuetype = dtNumeric;
    p.valuefloat = value;
    fParams.append(std::move(p));
}

void TSQLiteDatabase::AddParamText(const QString &name, const QString &value)
{
    TSQliteParam p;
    p.name = name.toUtf8();
    p.valuetype = dtStr;
    p.valuedata = value.toUtf8();
    fParams.append(std::move(p));
}

void TSQLiteDatabase::AddParamNull(const QString &name)
{
    TSQliteParam p;
    p.name = name.toUtf8();
    p.valuetype = dtNull;
    fParams.append(std::move(p));
}

// ---------------------------------------------------------------------------

TSQLiteTable::TSQLiteTable(TSQLiteDatabase &DB, const QString &SQL, bool bPrepareOnly)
    : FSQLiteDB(DB)
    , fSQL(SQL)
{
    StmtPtr stmt
        = prepareStatement(DB.FSQLiteDB, SQL, [&](const QString &m) { FSQLiteDB.RaiseError(m, SQL); });
    DB.DoQuery(SQL);
    fColCount = sqlite3_column_count(stmt.get());
    for (int i = 0; i < fColCount; ++i) {
        fColNames.append(QString::fromUtf8(sqlite3_column_name(stmt.get(), i)).toUpper());
        fColTypes.append(DeclTypeToColType(QString::fromUtf8(sqlite3_column_decltype(stmt.get(), i))));
    }
    if (!bPrepareOnly)
        DB.BindParams(stmt.get());
    // From here the destructor finalizes; Next may throw.
    fStmt = stmt.release();
    if (!bPrepareOnly) {
        try {
            Next();
        } catch (...) {
            sqlite3_finalize(fStmt);
            fStmt = nullptr;
            throw;
        }
    }
}

TSQLiteTable::~TSQLiteTable()
{
    sqlite3_finalize(fStmt);
}

QString TSQLiteTable::ColName(int I) const
{
    return fColNames.value(I);
}

int TSQLiteTable::ColType(int I) const
{
    return fColTypes.value(I, dtNull);
}

bool TSQLiteTable::Next()
{
    fEOF = true;
    const int rc = sqlite3_step(fStmt);
    if (rc == SQLITE_ROW) {
        fEOF = false;
        ++fRow;
    } else if (rc != SQLITE_DONE) {
        sqlite3_reset(fStmt);
        FSQLiteDB.RaiseError(QStringLiteral("Could not retrieve data"), fSQL);
    }
    return !fEOF;
}

qint64 TSQLiteTable::FieldAsInteger(int I) const
{
    return sqlite3_column_int64(fStmt, I);
}

double TSQLiteTable::FieldAsDouble(int I) const
{
    return sqlite3_column_double(fStmt, I);
}

QString TSQLiteTable::FieldAsString(int I) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(fStmt, I));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(fStmt, I));
}

bool TSQLiteTable::FieldIsNull(int I) const
{
    return sqlite3_column_text(fStmt, I) == nullptr;
}

QByteArray TSQLiteTable::FieldAsBlob(int I) const
{
    return FieldAsBlobText(I);
}

const void *TSQLiteTable::FieldAsBlobPtr(int I, int &iNumBytes) const
{
    // Pointer first, then the count, as the engine asks.
    const void *p = sqlite3_column_blob(fStmt, I);
    iNumBytes = sqlite3_column_bytes(fStmt, I);
    return p;
}

QByteArray TSQLiteTable::FieldAsBlobText(int I) const
{
    int n = 0;
    const void *p = FieldAsBlobPtr(I, n);
    if (!p || n <= 0)
        return QByteArray();
    return QByteArray(static_cast<const char *>(p), n);
}

void TSQLiteTable::Reset()
{
    sqlite3_reset(fStmt);
    fEOF = false;
    fRow = 0;
}

void TSQLiteTable::ParamsClear()
{
    sqlite3_clear_bindings(fStmt);
}

int TSQLiteTable::ParamIndex(const QString &name) const
{
    return sqlite3_bind_parameter_index(fStmt, name.toUtf8().constData());
}

void TSQLiteTable::AddParamInt(const QString &name, qint64 value)
{
    if (const int idx = ParamIndex(name); idx > 0)
        sqlite3_bind_int64(fStmt, idx, value);
}

void TSQLiteTable::AddParamFloat(const QString &name, double value)
{
    if (const int idx = ParamIndex(name); idx > 0)
        sqlite3_bind_double(fStmt, idx, value);
}

void TSQLiteTable::AddParamText(const QString &name, const QString &value)
{
    if (const int idx = ParamIndex(name); idx > 0) {
        const QByteArray v = value.toUtf8();
        sqlite3_bind_text64(fStmt, idx, v.constData(), sqlite3_uint64(v.size()), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
    }
}

void TSQLiteTable::AddParamNull(const QString &name)
{
    if (const int idx = ParamIndex(name); idx > 0)
        sqlite3_bind_null(fStmt, idx);
}

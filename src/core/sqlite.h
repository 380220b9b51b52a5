#pragma once

#include "core/exceptions.h"
#include "core/sqlformat.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

// The one exception of the database layer.
class ESQLiteException : public Exception
{
    using Exception::Exception;
};

// Engine fundamental type codes, as used by TSQliteParam and DeclTypeToColType.
enum : int {
    dtInt = 1,
    dtNumeric = 2,
    dtStr = 3,
    dtBlob = 4,
    dtNull = 5,
};

// One named parameter queued for the next statement of a TSQLiteDatabase.
struct TSQliteParam
{
    QByteArray name; // UTF-8, with its prefix (":id", "@id", "$id", "?1")
    int position = 0; // above 0: bound at this index instead of by name
    int valuetype = dtNull;
    qint64 valueinteger = 0;
    double valuefloat = 0.0;
    QByteArray valuedata; // UTF-8
};

class TSQLiteDatabase;
class TSQLiteTable;

using THookQuery = std::function<void(TSQLiteDatabase *Sender, const QString &SQL)>;
// The engine's collation signature.
using TCollateXCompare
    = int (*)(void *UserData, int Buf1Len, const void *Buf1, int Buf2Len, const void *Buf2);

// Text of an engine result code, for error messages.
QString SQLiteErrorStr(int SQLiteErrorCode);
// What a statement does, for error texts: its verb and first table, such as
// "INSERT INTO retention" or "SELECT FROM send"; never a value it carries.
QString StatementSummary(const QString &SQL);
// Column type code (dtInt, dtNumeric, dtStr, dtBlob, dtNull) of a declared
// column type; see the implementation for the (substring) rule.
int DeclTypeToColType(const QString &declType);

// One open database connection, open from construction to destruction.
class TSQLiteDatabase
{
public:
    // Opens (creating when missing) the file read-write; throws ESQLiteException.
    explicit TSQLiteDatabase(const QString &fileName);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase &) = delete;
    TSQLiteDatabase &operator=(const TSQLiteDatabase &) = delete;

    // Runs the first statement of the text, which must return no rows.
    void ExecSQL(const QString &SQL);
    void ExecSQLFmt(const QString &SQL, std::initializer_list<TFmtArg> args);

    // A table on its first row (or at EOF), or only prepared; null while paused.
    std::unique_ptr<TSQLiteTable> GetTable(const QString &SQL, bool bPrepareOnly = false);
    std::unique_ptr<TSQLiteTable> GetTableFmt(const QString &SQL, std::initializer_list<TFmtArg> args,
                                              bool bPrepareOnly = false);

    // The same for statements with "?" placeholders, bound in order to the
    // values: a value never becomes SQL text, so quotes need no escaping
    // and no value can reach an error text. Preferred for every statement
    // that carries a value.
    //
    //   DB->Exec(u"UPDATE send SET zippassword = ? WHERE id = ?"_s, { sPassword, iID });
    void Exec(const QString &SQL, std::initializer_list<TFmtArg> values);
    std::unique_ptr<TSQLiteTable> Query(const QString &SQL, std::initializer_list<TFmtArg> values);
    qint64 QueryInteger(const QString &SQL, std::initializer_list<TFmtArg> values);
    double QueryDouble(const QString &SQL, std::initializer_list<TFmtArg> values);
    QString QueryString(const QString &SQL, std::initializer_list<TFmtArg> values);

    // First column of the first row; 0, 0.0 or "" without a row or while paused.
    int QueryIntegerFmt(const QString &SQL, std::initializer_list<TFmtArg> args); // low 32 bits
    double QueryDoubleFmt(const QString &SQL, std::initializer_list<TFmtArg> args);
    QString QueryStringFmt(const QString &SQL, std::initializer_list<TFmtArg> args);
    qint64 GetTableValue(const QString &SQL);
    QString GetTableString(const QString &SQL);
    // Clears Value, then appends the first column of every row.
    void GetTableStrings(const QString &SQL, QStringList &Value);

    bool InTransaction() const;
    // Savepoint when name is set, otherwise "BEGIN [param]".
    void Start(const QString &name = QString(), const QString &param = QString());
    void Commit(const QString &name = QString());
    void Rollback(const QString &name = QString());

    qint64 LastInsertRowID() const;
    qint64 LastChangedRows() const;
    void SetTimeout(int Value);
    // The busy time-out last set, in milliseconds (0: none).
    int Timeout() const { return FTimeout; }
    QString Version() const;

    // Collation for UTF-8 text, no user data.
    void AddCustomCollate(const QString &name, TCollateXCompare xCompare);
    // Collation "SYSTEM": UTF-16 text compared by the user's locale.
    void AddSystemCollate();

    // Parameters queued for the next statement that reaches binding.
    void ParamsClear();
    void AddParamInt(const QString &name, qint64 value);
    void AddParamFloat(const QString &name, double value);
    void AddParamText(const QString &name, const QString &value);
    void AddParamNull(const QString &name);

    // While paused, statement operations do nothing.
    void Pause() { FPause = true; }
    void Resume() { FPause = false; }
    bool Paused() const { return FPause; }

    // Observer of every statement that gets prepared.
    THookQuery OnQuery;

    sqlite3 *Handle() const { return FSQLiteDB; }

private:
    friend class TSQLiteTable;

    // Throws sMessage with the engine's error and what the statement does
    // (its verb and table, from StatementSummary), never the statement.
    [[noreturn]] void RaiseError(const QString &sMessage, const QString &sSQL) const;
    void QueueValues(std::initializer_list<TFmtArg> values);
    void DoQuery(const QString &SQL);
    void BindParams(sqlite3_stmt *Stmt);

    sqlite3 *FSQLiteDB = nullptr;
    QList<TSQliteParam> fParams;
    bool FPause = false;
    int FTimeout = 0;
};

// A transaction for the life of the object (a savepoint, so it nests):
// undone unless Commit() was called, so that an exception leaves no
// half-written change behind.
class TTransaction
{
public:
    explicit TTransaction(TSQLiteDatabase &db);
    ~TTransaction();
    TTransaction(const TTransaction &) = delete;
    TTransaction &operator=(const TTransaction &) = delete;

    void Commit();

private:
    TSQLiteDatabase &FDB;
    bool FDone = false;
};

// One prepared statement and its current row. Must be destroyed before its
// database.
class TSQLiteTable
{
public:
    TSQLiteTable(TSQLiteDatabase &DB, const QString &SQL, bool bPrepareOnly);
    ~TSQLiteTable();
    TSQLiteTable(const TSQLiteTable &) = delete;
    TSQLiteTable &operator=(const TSQLiteTable &) = delete;

    // "EOF" itself is a C library macro, hence the spelling.
    bool Eof() const { return fEOF; }
    int ColCount() const { return fColCount; }
    int Row() const { return fRow; }
    // Upper-cased column name and DeclTypeToColType code of column I.
    QString ColName(int I) const;
    int ColType(int I) const;

    // Steps to the next row; true when a row is current.
    bool Next();

    qint64 FieldAsInteger(int I) const;
    double FieldAsDouble(int I) const;
    QString FieldAsString(int I) const;
    bool FieldIsNull(int I) const;
    QByteArray FieldAsBlob(int I) const;
    // The engine's pointer, valid until the next step, reset or destruction.
    const void *FieldAsBlobPtr(int I, int &iNumBytes) const;
    // The bytes as they are (no decoding).
    QByteArray FieldAsBlobText(int I) const;

    // Back to prepared; bindings stay.
    void Reset();
    void ParamsClear();
    // Bind at once by name; a name the statement lacks is ignored.
    void AddParamInt(const QString &name, qint64 value);
    void AddParamFloat(const QString &name, double value);
    void AddParamText(const QString &name, const QString &value);
    void AddParamNull(const QString &name);

private:
    int ParamIndex(const QString &name) const;

    int fColCount = 0;
    QStringList fColNames;
    QList<int> fColTypes;
    int fRow = 0;
    bool fEOF = false;
    sqlite3_stmt *fStmt = nullptr;
    TSQLiteDatabase &FSQLiteDB;
    QString fSQL;
};

#pragma once

// The SQLite machinery below the settings store operations of uRegistry.cpp:
// the per-thread connection, damage handling, prepared statements and key
// paths. Internal to the store; nothing outside uRegistry.cpp and
// uAutostart.cpp should include it.

#include "uErrors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sqlite3.h>
#include <sys/stat.h>

#include <optional>

namespace SettingsDb {

// Statements kept prepared per connection (the index into TConnection::Statements).
enum TStatementId : int {
    sqSelectKey,
    sqSelectValue,
    sqInsertKey,
    sqUpsertValue,
    sqSelectChildren,
    sqDeleteTree,
    sqDeleteAll,
    sqDeleteValue,
    sqCount
};

extern const char* const StatementSql[sqCount];

// An SQLite failure inside an operation; Damaged marks a file that is not (or no
// longer) a usable database, which the next open moves aside.
struct TSqliteError {
    QString Message;
    bool Damaged = false;
};

[[noreturn]] void ThrowSqlite(sqlite3* Db);

// $Variable when it holds an absolute path, else $HOME/BelowHome; no trailing "/".
// Shared with the autostart entry and the install folder.
QString FolderFromEnvironment(const char* Variable, const char* BelowHome);
QString ConfigHome();

// The folded name as UTF-8, without the detour through a QString for plain ASCII.
QByteArray FoldUtf8(const QString& Name);

// A SubKey split into its segments. An empty segment ("a\\b", a trailing "\")
// makes the path invalid: it comes from an empty name joined onto a parent path,
// and treating it as the parent would let a delete remove the whole parent.
struct TKeyPath {
    bool Valid = true;
    QString Text;
    QByteArray Fold; // UTF-8 of the folded path, "" for the program key
    QStringList Names() const { return Text.isEmpty() ? QStringList() : Text.split(QLatin1Char('\\')); }
};

TKeyPath ParseKeyPath(const QString& SubKey);

QString DescribeValue(const QString& SubKey, const QString& Name);

// One connection per thread, kept open while the database path stays the same.
class TConnection final {
public:
    TConnection() = default;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;
    ~TConnection() { Close(); }

    sqlite3* Db = nullptr;
    QString File;
    int ReadDepth = 0;  // nesting of TSettingsReadTransaction on this thread
    int WriteDepth = 0; // nesting of TSettingsWriteTransaction on this thread

    // Damaged: leave the files exactly as they are (no checkpoint, no WAL removal).
    void Close(bool Damaged = false) {
        if (Db && Damaged)
            sqlite3_db_config(Db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        for (sqlite3_stmt*& S : FStatements) {
            sqlite3_finalize(S);
            S = nullptr;
        }
        if (Db)
            sqlite3_close_v2(Db);
        Db = nullptr;
        File.clear();
        ReadDepth = 0;
        WriteDepth = 0;
    }

    // False when the file at the path is no longer the one this connection opened
    // (moved aside, replaced or deleted by someone else).
    bool StillCurrent() const {
        struct stat St {};
        return ::stat(FNativeFile.constData(), &St) == 0 && St.st_dev == FDevice && St.st_ino == FInode;
    }

    void Exec(const char* Sql) {
        if (sqlite3_exec(Db, Sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            ThrowSqlite(Db);
    }

    sqlite3_stmt* Statement(TStatementId Id) {
        if (!FStatements[Id] && sqlite3_prepare_v3(Db, StatementSql[Id], -1, SQLITE_PREPARE_PERSISTENT,
                                                   &FStatements[Id], nullptr) != SQLITE_OK)
            ThrowSqlite(Db);
        return FStatements[Id];
    }

    enum class TOpenResult { Open, Damaged, Failed };

    // Opens File and makes sure it is a usable store; Error tells why not.
    TOpenResult Open(const QString& FileName, QString& Error);

private:
    // An empty file is a valid new database; anything else starts with the magic text.
    bool HasDatabaseHeader() const;
    void SwitchToWal();
    QString QuickCheck();
    int UserVersion();

    sqlite3_stmt* FStatements[sqCount] = {};
    QByteArray FNativeFile;
    dev_t FDevice = 0;
    ino_t FInode = 0;
};

// Defined in uSettingsDatabase.cpp; TSettingsReadTransaction ends its read
// transaction on it directly, without reopening.
extern thread_local TConnection ThreadConnection;

// This thread's connection to the current database file, or nullptr when the store
// cannot be used (Error says why). A damaged file is moved aside here, and the one
// ERROR line about it is written only once the fresh connection is complete, since
// the logger itself reads the store.
TConnection* Acquire(QString* Error = nullptr);

// Resets and unbinds a kept statement when the operation is done with it.
class TStatement final {
public:
    TStatement(TConnection& C, TStatementId Id) : FDb(C.Db), FStmt(C.Statement(Id)) {}
    ~TStatement() {
        sqlite3_reset(FStmt); // every use binds all parameters anew
    }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    void Bind(int Index, const QByteArray& Utf8) {
        // A null pointer would bind NULL; the empty text must stay text.
        if (sqlite3_bind_text(FStmt, Index, Utf8.isNull() ? "" : Utf8.constData(), static_cast<int>(Utf8.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK)
            ThrowSqlite(FDb);
    }
    void Bind(int Index, const QString& Text) { Bind(Index, Text.toUtf8()); }
    void Bind(int Index, qint64 Value) {
        if (sqlite3_bind_int64(FStmt, Index, Value) != SQLITE_OK)
            ThrowSqlite(FDb);
    }
    void BindNull(int Index) {
        if (sqlite3_bind_null(FStmt, Index) != SQLITE_OK)
            ThrowSqlite(FDb);
    }
    // True for a row, false when done.
    bool Step() {
        const int Rc = sqlite3_step(FStmt);
        if (Rc == SQLITE_ROW)
            return true;
        if (Rc == SQLITE_DONE)
            return false;
        ThrowSqlite(FDb);
    }
    int ColumnType(int Column) const { return sqlite3_column_type(FStmt, Column); }
    qint64 Integer(int Column) const { return sqlite3_column_int64(FStmt, Column); }
    QString Text(int Column) const {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(FStmt, Column)),
                                 sqlite3_column_bytes(FStmt, Column));
    }
    int Changes() const { return sqlite3_changes(FDb); }

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt;
};

// Runs a read. When the store cannot be opened the read yields Unavailable; a file
// found damaged during the read is dropped and the read runs once more on the
// fresh store.
// What names the item for an error message; it is only built when one is needed.
template <typename TResult, typename TWhat, typename TBody>
TResult RunRead(const TResult& Unavailable, TWhat&& What, TBody&& Body) {
    for (int Attempt = 0;; ++Attempt) {
        TConnection* C = Acquire();
        if (!C)
            return Unavailable;
        try {
            return Body(*C);
        } catch (const TSqliteError& E) {
            C->Close(E.Damaged);
            if (!E.Damaged || Attempt > 0)
                throw ESettingsError(QStringLiteral("Settings store: cannot read %1: %2").arg(What(), E.Message));
        }
    }
}

// Runs Body in its own write transaction. A read transaction of this thread is
// ended first (its snapshot could not be upgraded reliably) and started again after.
template <typename TResult, typename TWhat, typename TBody> TResult RunWrite(TWhat&& What, TBody&& Body) {
    for (int Attempt = 0;; ++Attempt) {
        QString Error;
        TConnection* C = Acquire(&Error);
        if (!C)
            throw ESettingsError(QStringLiteral("Settings store: cannot write %1: %2").arg(What(), Error));
        if (C->WriteDepth > 0) {
            // Part of the caller's write transaction, which commits or rolls back as a whole.
            try {
                return Body(*C);
            } catch (const TSqliteError& E) {
                throw ESettingsError(QStringLiteral("Settings store: cannot write %1: %2").arg(What(), E.Message));
            }
        }
        try {
            const bool InRead = C->ReadDepth > 0 && !sqlite3_get_autocommit(C->Db);
            if (InRead)
                C->Exec("COMMIT");
            C->Exec("BEGIN IMMEDIATE");
            std::optional<TResult> Result;
            try {
                Result = Body(*C);
                C->Exec("COMMIT");
            } catch (...) {
                sqlite3_exec(C->Db, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
            if (InRead)
                C->Exec("BEGIN");
            return *Result;
        } catch (const TSqliteError& E) {
            C->Close(E.Damaged);
            if (!E.Damaged || Attempt > 0)
                throw ESettingsError(QStringLiteral("Settings store: cannot write %1: %2").arg(What(), E.Message));
        }
    }
}

std::optional<qint64> FindKey(TConnection& C, const QByteArray& Fold, QString* Path = nullptr);

// The id of the key, created with every missing key along the path.
qint64 EnsureKey(TConnection& C, const TKeyPath& Path);

// A template (Data is a QByteArray of text or a qint64), so it lives here.
void WriteValue(const QString& SubKey, const QString& Name, const auto& Data) {
    const auto What = [&] { return DescribeValue(SubKey, Name); };
    const TKeyPath Path = ParseKeyPath(SubKey);
    if (!Path.Valid)
        throw ESettingsError(
            QStringLiteral("Settings store: cannot write %1: the key path has an empty name").arg(What()));
    RunWrite<bool>(What, [&](TConnection& C) {
        const qint64 Key = EnsureKey(C, Path);
        TStatement S(C, sqUpsertValue);
        S.Bind(1, Key);
        S.Bind(2, Name);
        S.Bind(3, FoldUtf8(Name));
        S.Bind(4, Data);
        S.Step();
        return true;
    });
}

// The stored value's column type and data; std::nullopt when the value is missing.
struct TStoredValue {
    int Type;
    qint64 Integer;
    QString Text;
};

std::optional<TStoredValue> ReadValue(const QString& SubKey, const QString& Name);

} // namespace SettingsDb

#include "uRegistry.h"

#include "uErrors.h"
#include "uTLogger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <sqlite3.h>
#include <sys/stat.h>

#include <optional>
#include <unordered_map>

// Storage layout (documented for people who inspect the file with sqlite3):
//
//   reg_key(id, parent, name, path, fold)  one row per key; the program key is the
//       row with path '' and parent NULL. `name` is the last path segment as first
//       written, `path` the whole relative path as written ("favorites\Shop A"),
//       `fold` the path upper-cased code point by code point: the lookup key.
//   reg_value(key_id, name, fold, data)    one row per value; typeof(data) is
//       'text' for a string value and 'integer' for a 32-bit integer value.
// Key ids are never reused (AUTOINCREMENT), so values orphaned by a hand edit
// without foreign keys switched on can never attach to a later key.
//
// Case folding follows the registry: every code point is mapped by its simple
// upper-case mapping (so "ü" matches "Ü", "ß" stays "ß" and never matches "SS").
// Sub-keys enumerate in the binary order of their folded names, which is the
// registry's case-insensitive order.
//
// Durability: WAL with synchronous=NORMAL. A commit is in the WAL file (the OS page
// cache) when it returns, so a killed or crashed process loses nothing committed;
// only a power cut or kernel crash can drop the last commits, never half of one.

namespace {

constexpr int BusyTimeoutMs = 10000;
constexpr int SchemaVersion = 1;

const char* const SchemaSql = R"SQL(
CREATE TABLE IF NOT EXISTS reg_key (
    id     INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES reg_key(id) ON DELETE CASCADE,
    name   TEXT NOT NULL,
    path   TEXT NOT NULL,
    fold   TEXT NOT NULL UNIQUE
);
CREATE INDEX IF NOT EXISTS reg_key_parent ON reg_key(parent);
CREATE TABLE IF NOT EXISTS reg_value (
    key_id INTEGER NOT NULL REFERENCES reg_key(id) ON DELETE CASCADE,
    name   TEXT NOT NULL,
    fold   TEXT NOT NULL,
    data   NOT NULL CHECK (typeof(data) IN ('text', 'integer')),
    PRIMARY KEY (key_id, fold)
) WITHOUT ROWID;
CREATE VIEW IF NOT EXISTS reg_listing AS
    SELECT k.path AS key, v.name AS value, typeof(v.data) AS type, v.data AS data
    FROM reg_key k LEFT JOIN reg_value v ON v.key_id = k.id
    ORDER BY k.fold, v.fold;
PRAGMA user_version = 1;
)SQL";

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

const char* const StatementSql[sqCount] = {
    "SELECT id, path FROM reg_key WHERE fold = ?1",
    "SELECT v.data FROM reg_value v JOIN reg_key k ON k.id = v.key_id WHERE k.fold = ?1 AND v.fold = ?2",
    "INSERT INTO reg_key(parent, name, path, fold) VALUES (?1, ?2, ?3, ?4)",
    "INSERT INTO reg_value(key_id, name, fold, data) VALUES (?1, ?2, ?3, ?4) "
    "ON CONFLICT(key_id, fold) DO UPDATE SET data = excluded.data",
    "SELECT c.name FROM reg_key c JOIN reg_key p ON c.parent = p.id WHERE p.fold = ?1 ORDER BY c.fold",
    "DELETE FROM reg_key WHERE fold = ?1 OR (fold >= ?2 AND fold < ?3)",
    "DELETE FROM reg_key",
    "DELETE FROM reg_value WHERE key_id = (SELECT id FROM reg_key WHERE fold = ?1) AND fold = ?2",
};

// An SQLite failure inside an operation; Damaged marks a file that is not (or no
// longer) a usable database, which the next open moves aside.
struct TSqliteError {
    QString Message;
    bool Damaged = false;
};

bool IsDamageCode(int Code) {
    const int Primary = Code & 0xff;
    return Primary == SQLITE_CORRUPT || Primary == SQLITE_NOTADB;
}

[[noreturn]] void ThrowSqlite(sqlite3* Db) {
    throw TSqliteError{QString::fromUtf8(sqlite3_errmsg(Db)), IsDamageCode(sqlite3_extended_errcode(Db))};
}

QString FolderFromEnvironment(const char* Variable, const char* BelowHome) {
    QString Folder = qEnvironmentVariable(Variable);
    // The XDG base directory rules ignore relative paths.
    if (Folder.isEmpty() || !QDir::isAbsolutePath(Folder)) {
        QString Home = qEnvironmentVariable("HOME");
        if (Home.isEmpty())
            Home = QDir::homePath();
        Folder = Home + QLatin1Char('/') + QLatin1String(BelowHome);
    }
    while (Folder.size() > 1 && Folder.endsWith(QLatin1Char('/')))
        Folder.chop(1);
    return Folder;
}

QString ConfigHome() {
    return FolderFromEnvironment("XDG_CONFIG_HOME", ".config");
}

// SettingsDatabaseFile() runs on every call; this thread's last answer is kept for
// as long as the environment variables it came from have not changed.
QString CurrentDatabaseFile() {
    thread_local QByteArray LastConfig, LastHome;
    thread_local QString LastFile;
    const QByteArray Config = qgetenv("XDG_CONFIG_HOME");
    const bool NeedsHome = !Config.startsWith('/');
    const QByteArray Home = NeedsHome ? qgetenv("HOME") : QByteArray();
    if (LastFile.isEmpty() || Config != LastConfig || Home != LastHome) {
        LastConfig = Config;
        LastHome = Home;
        LastFile = SettingsDatabaseFile();
    }
    return LastFile;
}

QString FoldName(const QString& Name) {
    QString Result;
    Result.reserve(Name.size());
    for (qsizetype I = 0; I < Name.size(); ++I) {
        const QChar C = Name.at(I);
        if (C.unicode() < 0x80) {
            Result.append(C.unicode() >= 'a' && C.unicode() <= 'z' ? QChar(C.unicode() - 32) : C);
        } else if (C.isHighSurrogate() && I + 1 < Name.size() && Name.at(I + 1).isLowSurrogate()) {
            const char32_t Upper = QChar::toUpper(QChar::surrogateToUcs4(C, Name.at(I + 1)));
            Result.append(QChar::highSurrogate(Upper));
            Result.append(QChar::lowSurrogate(Upper));
            ++I;
        } else {
            Result.append(QChar(static_cast<char16_t>(QChar::toUpper(C.unicode()))));
        }
    }
    return Result;
}

// The folded name as UTF-8, without the detour through a QString for plain ASCII.
QByteArray FoldUtf8(const QString& Name) {
    QByteArray Result(Name.size(), Qt::Uninitialized);
    char* Out = Result.data();
    for (const QChar C : Name) {
        const char16_t U = C.unicode();
        if (U >= 0x80)
            return FoldName(Name).toUtf8();
        *Out++ = static_cast<char>(U >= 'a' && U <= 'z' ? U - 32 : U);
    }
    return Result;
}

// A SubKey split into its segments. An empty segment ("a\\b", a trailing "\")
// makes the path invalid: it comes from an empty name joined onto a parent path,
// and treating it as the parent would let a delete remove the whole parent.
struct TKeyPath {
    bool Valid = true;
    QString Text;
    QByteArray Fold; // UTF-8 of the folded path, "" for the program key
    QStringList Names() const { return Text.isEmpty() ? QStringList() : Text.split(QLatin1Char('\\')); }
};

TKeyPath ParseKeyPath(const QString& SubKey) {
    TKeyPath Path;
    if (SubKey.isEmpty())
        return Path;
    Path.Text = SubKey;
    Path.Valid = !SubKey.startsWith(QLatin1Char('\\')) && !SubKey.endsWith(QLatin1Char('\\')) &&
                 !SubKey.contains(QLatin1String("\\\\"));
    Path.Fold = FoldUtf8(SubKey);
    return Path;
}

QString DescribeValue(const QString& SubKey, const QString& Name) {
    return SubKey.isEmpty() ? QStringLiteral("\"%1\"").arg(Name) : QStringLiteral("\"%1\" in \"%2\"").arg(Name, SubKey);
}

// One connection per thread, kept open while the database path stays the same.
class TConnection final {
public:
    TConnection() = default;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;
    ~TConnection() { Close(); }

    sqlite3* Db = nullptr;
    QString File;
    int ReadDepth = 0; // nesting of TSettingsReadTransaction on this thread

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
    TOpenResult Open(const QString& FileName, QString& Error) {
        Close();
        const QFileInfo Info(FileName);
        if (!QDir().mkpath(Info.absolutePath())) {
            Error = QStringLiteral("cannot create the folder %1").arg(Info.absolutePath());
            return TOpenResult::Failed;
        }
        if (Info.isDir()) {
            Error = QStringLiteral("%1 is a folder").arg(FileName);
            return TOpenResult::Failed;
        }
        FNativeFile = QFile::encodeName(FileName);
        if (!HasDatabaseHeader()) {
            // Caught before SQLite touches the file, so its -wal stays as found too.
            Error = QStringLiteral("file is not a database");
            return TOpenResult::Damaged;
        }
        const int Flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(FNativeFile.constData(), &Db, Flags, nullptr) != SQLITE_OK) {
            Error = Db ? QString::fromUtf8(sqlite3_errmsg(Db)) : QStringLiteral("out of memory");
            Close();
            return TOpenResult::Failed;
        }
        sqlite3_extended_result_codes(Db, 1);
        sqlite3_busy_timeout(Db, BusyTimeoutMs);
        // Until the file has proven sound, closing must not checkpoint into it.
        sqlite3_db_config(Db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        try {
            Exec("PRAGMA journal_mode = WAL");
            Exec("PRAGMA synchronous = NORMAL");
            Exec("PRAGMA foreign_keys = ON");
            const QString Check = QuickCheck();
            if (Check != QLatin1String("ok"))
                throw TSqliteError{QStringLiteral("quick_check: ") + Check, true};
            int Version = UserVersion();
            if (Version == 0) {
                Exec("BEGIN IMMEDIATE");
                try {
                    Exec(SchemaSql);
                    Exec("COMMIT");
                } catch (...) {
                    sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
                    throw;
                }
                Version = UserVersion();
            }
            if (Version != SchemaVersion) {
                Error = QStringLiteral("%1 has the unknown schema version %2").arg(FileName).arg(Version);
                Close();
                return TOpenResult::Failed;
            }
            // Preparing everything here proves the tables are the ones we expect.
            for (int Id = 0; Id < sqCount; ++Id)
                if (sqlite3_prepare_v3(Db, StatementSql[Id], -1, SQLITE_PREPARE_PERSISTENT, &FStatements[Id],
                                       nullptr) != SQLITE_OK)
                    throw TSqliteError{QString::fromUtf8(sqlite3_errmsg(Db)), true};
        } catch (const TSqliteError& E) {
            Error = E.Message;
            Close(true);
            return E.Damaged ? TOpenResult::Damaged : TOpenResult::Failed;
        }
        sqlite3_db_config(Db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        struct stat St {};
        if (::stat(FNativeFile.constData(), &St) != 0) {
            Error = QStringLiteral("%1 vanished while it was opened").arg(FileName);
            Close();
            return TOpenResult::Failed;
        }
        FDevice = St.st_dev;
        FInode = St.st_ino;
        File = FileName;
        return TOpenResult::Open;
    }

private:
    // An empty file is a valid new database; anything else starts with the magic text.
    bool HasDatabaseHeader() const {
        QFile F(QFile::decodeName(FNativeFile));
        if (!F.exists() || F.size() == 0)
            return true;
        if (!F.open(QIODevice::ReadOnly))
            return true; // let SQLite report why it cannot be read
        return F.size() >= 100 && F.read(16) == QByteArray("SQLite format 3", 16);
    }

    QString QuickCheck() {
        sqlite3_stmt* S = nullptr;
        if (sqlite3_prepare_v2(Db, "PRAGMA quick_check(1)", -1, &S, nullptr) != SQLITE_OK)
            ThrowSqlite(Db);
        const int Rc = sqlite3_step(S);
        const QString Result =
            Rc == SQLITE_ROW ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(S, 0))) : QString();
        sqlite3_finalize(S);
        if (Rc != SQLITE_ROW)
            ThrowSqlite(Db);
        return Result;
    }

    int UserVersion() {
        sqlite3_stmt* S = nullptr;
        if (sqlite3_prepare_v2(Db, "PRAGMA user_version", -1, &S, nullptr) != SQLITE_OK)
            ThrowSqlite(Db);
        const int Rc = sqlite3_step(S);
        const int Version = Rc == SQLITE_ROW ? sqlite3_column_int(S, 0) : -1;
        sqlite3_finalize(S);
        if (Rc != SQLITE_ROW)
            ThrowSqlite(Db);
        return Version;
    }

    sqlite3_stmt* FStatements[sqCount] = {};
    QByteArray FNativeFile;
    dev_t FDevice = 0;
    ino_t FInode = 0;
};

thread_local TConnection ThreadConnection;

// Serialises moving a damaged file aside between the threads of this process.
QMutex RecoveryLock;

bool SameFile(const QString& FileName, const struct stat& Before) {
    struct stat Now {};
    return ::stat(QFile::encodeName(FileName).constData(), &Now) == 0 && Now.st_dev == Before.st_dev &&
           Now.st_ino == Before.st_ino;
}

// Moves the database with its -wal and -shm files to <file>.damaged-<timestamp>.
QString MoveAside(const QString& FileName) {
    const QString Base = FileName + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString Aside = Base;
    for (int N = 2; QFileInfo::exists(Aside) || QFileInfo::exists(Aside + QStringLiteral("-wal")); ++N)
        Aside = Base + QLatin1Char('-') + QString::number(N);
    if (!QFile::rename(FileName, Aside))
        return QString();
    for (const char* Suffix : {"-wal", "-shm"})
        if (QFileInfo::exists(FileName + QLatin1String(Suffix)))
            QFile::rename(FileName + QLatin1String(Suffix), Aside + QLatin1String(Suffix));
    return Aside;
}

// This thread's connection to the current database file, or nullptr when the store
// cannot be used (Error says why). A damaged file is moved aside here, and the one
// ERROR line about it is written only once the fresh connection is complete, since
// the logger itself reads the store.
TConnection* Acquire(QString* Error = nullptr) {
    TConnection& C = ThreadConnection;
    const QString File = CurrentDatabaseFile();
    if (C.Db && C.File == File && (C.ReadDepth > 0 || C.StillCurrent()))
        return &C;

    QString Why;
    struct stat Examined {};
    const bool Existed = ::stat(QFile::encodeName(File).constData(), &Examined) == 0;
    TConnection::TOpenResult Result = C.Open(File, Why);
    QString Damage;
    if (Result == TConnection::TOpenResult::Damaged) {
        QMutexLocker Lock(&RecoveryLock);
        // Another thread or process may have replaced the file meanwhile; move only
        // the very file that was found damaged.
        if (Existed && SameFile(File, Examined)) {
            const QString Aside = MoveAside(File);
            if (!Aside.isEmpty())
                Damage = QStringLiteral("Settings store: the damaged database %1 (%2) was moved to %3; "
                                        "a fresh one was started")
                             .arg(File, Why, Aside);
        }
        QString Again;
        Result = C.Open(File, Again);
        if (Result != TConnection::TOpenResult::Open)
            Why = Again;
    }
    if (Result != TConnection::TOpenResult::Open) {
        if (Error)
            *Error = Why;
        return nullptr;
    }
    if (!Damage.isEmpty()) {
        try {
            TLogger(TLogger::llError, true, QStringLiteral("Quorvantis")).Error(Damage);
        } catch (...) {
        }
    }
    return &C;
}

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

std::optional<qint64> FindKey(TConnection& C, const QByteArray& Fold, QString* Path = nullptr) {
    TStatement S(C, sqSelectKey);
    S.Bind(1, Fold);
    if (!S.Step())
        return std::nullopt;
    if (Path)
        *Path = S.Text(1);
    return S.Integer(0);
}

// The id of the key, created with every missing key along the path.
qint64 EnsureKey(TConnection& C, const TKeyPath& Path) {
    if (const auto Id = FindKey(C, Path.Fold))
        return *Id;
    std::optional<qint64> Parent;
    QString ParentPath;
    QString Fold;
    const QStringList Names = Path.Names();
    for (qsizetype Level = -1; Level < Names.size(); ++Level) {
        QString Name;
        if (Level >= 0) {
            Name = Names.at(Level);
            Fold += (Level > 0 ? QStringLiteral("\\") : QString()) + FoldName(Name);
        }
        const QByteArray FoldUtf8 = Fold.toUtf8();
        QString ExistingPath;
        if (const auto Id = FindKey(C, FoldUtf8, &ExistingPath)) {
            Parent = Id;
            ParentPath = ExistingPath;
            continue;
        }
        const QString KeyPath = Level <= 0 ? Name : ParentPath + QLatin1Char('\\') + Name;
        TStatement S(C, sqInsertKey);
        if (Parent)
            S.Bind(1, *Parent);
        else
            S.BindNull(1);
        S.Bind(2, Name);
        S.Bind(3, KeyPath);
        S.Bind(4, FoldUtf8);
        S.Step();
        Parent = sqlite3_last_insert_rowid(C.Db);
        ParentPath = KeyPath;
    }
    return *Parent;
}

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

std::optional<TStoredValue> ReadValue(const QString& SubKey, const QString& Name) {
    const TKeyPath Path = ParseKeyPath(SubKey);
    if (!Path.Valid)
        return std::nullopt;
    return RunRead<std::optional<TStoredValue>>(
        std::nullopt, [&] { return DescribeValue(SubKey, Name); },
        [&](TConnection& C) -> std::optional<TStoredValue> {
            TStatement S(C, sqSelectValue);
            S.Bind(1, Path.Fold);
            S.Bind(2, FoldUtf8(Name));
            if (!S.Step())
                return std::nullopt;
            const int Type = S.ColumnType(0);
            return TStoredValue{Type, Type == SQLITE_INTEGER ? S.Integer(0) : 0,
                                Type == SQLITE_TEXT ? S.Text(0) : QString()};
        });
}

} // namespace

QString SettingsDatabaseFile() {
    return ConfigHome() + QStringLiteral("/Quorvantis/registry.db");
}

QString ReadSettingString(const QString& SubKey, const QString& Name, const QString& Default) {
    const auto Value = ReadValue(SubKey, Name);
    if (!Value)
        return Default;
    if (Value->Type != SQLITE_TEXT)
        throw ESettingsError(
            QStringLiteral("Settings store: %1 is not a string value").arg(DescribeValue(SubKey, Name)));
    return Value->Text;
}

void WriteSettingString(const QString& SubKey, const QString& Name, const QString& Value) {
    WriteValue(SubKey, Name, Value.toUtf8());
}

int ReadSettingInteger(const QString& SubKey, const QString& Name, int Default) {
    const auto Value = ReadValue(SubKey, Name);
    if (!Value)
        return Default;
    if (Value->Type != SQLITE_INTEGER)
        throw ESettingsError(
            QStringLiteral("Settings store: %1 is not an integer value").arg(DescribeValue(SubKey, Name)));
    if (Value->Integer < INT32_MIN || Value->Integer > INT32_MAX)
        throw ESettingsError(
            QStringLiteral("Settings store: %1 is not a 32-bit integer").arg(DescribeValue(SubKey, Name)));
    return static_cast<int>(Value->Integer);
}

void WriteSettingInteger(const QString& SubKey, const QString& Name, int Value) {
    WriteValue(SubKey, Name, static_cast<qint64>(Value));
}

bool ReadSettingBool(const QString& SubKey, const QString& Name, bool Default) {
    return ReadSettingInteger(SubKey, Name, Default ? 1 : 0) == 1;
}

void WriteSettingBool(const QString& SubKey, const QString& Name, bool Value) {
    WriteSettingInteger(SubKey, Name, Value ? 1 : 0);
}

bool SettingsKeyExists(const QString& SubKey) {
    const TKeyPath Path = ParseKeyPath(SubKey);
    if (!Path.Valid)
        return false;
    return RunRead<bool>(
        false, [&] { return QStringLiteral("key \"%1\"").arg(SubKey); },
        [&](TConnection& C) { return FindKey(C, Path.Fold).has_value(); });
}

bool SettingsValueExists(const QString& SubKey, const QString& Name) {
    return ReadValue(SubKey, Name).has_value();
}

QStringList GetSettingsKeyNames(const QString& SubKey) {
    const TKeyPath Path = ParseKeyPath(SubKey);
    if (!Path.Valid)
        return {};
    return RunRead<QStringList>(
        {}, [&] { return QStringLiteral("the sub-keys of \"%1\"").arg(SubKey); },
        [&](TConnection& C) {
            QStringList Names;
            TStatement S(C, sqSelectChildren);
            S.Bind(1, Path.Fold);
            while (S.Step())
                Names.append(S.Text(0));
            return Names;
        });
}

bool DeleteSettingsKey(const QString& SubKey) {
    const TKeyPath Path = ParseKeyPath(SubKey);
    if (!Path.Valid)
        return false;
    try {
        return RunWrite<bool>([&] { return QStringLiteral("key \"%1\"").arg(SubKey); },
                              [&](TConnection& C) {
                                  if (Path.Fold.isEmpty()) {
                                      if (!FindKey(C, Path.Fold))
                                          return false;
                                      TStatement S(C, sqDeleteAll);
                                      S.Step();
                                      return true;
                                  }
                                  // The key and every key whose folded path starts with "<key>\" ("]" follows "\").
                                  TStatement S(C, sqDeleteTree);
                                  S.Bind(1, Path.Fold);
                                  S.Bind(2, Path.Fold + '\\');
                                  S.Bind(3, Path.Fold + ']');
                                  S.Step();
                                  return S.Changes() > 0;
                              });
    } catch (const ESettingsError&) {
        return false;
    }
}

bool DeleteSettingsValue(const QString& SubKey, const QString& Name) {
    const TKeyPath Path = ParseKeyPath(SubKey);
    if (!Path.Valid)
        return false;
    try {
        return RunWrite<bool>([&] { return DescribeValue(SubKey, Name); },
                              [&](TConnection& C) {
                                  TStatement S(C, sqDeleteValue);
                                  S.Bind(1, Path.Fold);
                                  S.Bind(2, FoldUtf8(Name));
                                  S.Step();
                                  return S.Changes() > 0;
                              });
    } catch (const ESettingsError&) {
        return false;
    }
}

TSettingsReadTransaction::TSettingsReadTransaction() {
    TConnection* C = Acquire();
    if (!C)
        return;
    if (C->ReadDepth == 0) {
        // A transaction this thread opened some other way is left alone.
        if (!sqlite3_get_autocommit(C->Db) || sqlite3_exec(C->Db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            return;
    }
    ++C->ReadDepth;
    FActive = true;
}

TSettingsReadTransaction::~TSettingsReadTransaction() {
    if (!FActive)
        return;
    TConnection& C = ThreadConnection;
    // A reopen in between (the path changed) already ended the transaction.
    if (!C.Db || C.ReadDepth == 0)
        return;
    if (--C.ReadDepth == 0 && !sqlite3_get_autocommit(C.Db)) {
        if (sqlite3_exec(C.Db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            sqlite3_exec(C.Db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

QString AutostartFileName(const QString& Name) {
    return ConfigHome() + QStringLiteral("/autostart/") + Name + QStringLiteral(".desktop");
}

namespace {
// Exec value per the Desktop Entry rules: the program quoted as one argument
// (\ " ` $ escaped inside the quotes), then the string-value escaping applied on
// top (so a literal backslash ends up as four), and % doubled for field codes.
QString DesktopExecValue(const QString& Command) {
    QString Quoted = QStringLiteral("\"");
    for (const QChar C : Command) {
        if (C == QLatin1Char('"') || C == QLatin1Char('`') || C == QLatin1Char('$') || C == QLatin1Char('\\'))
            Quoted.append(QLatin1Char('\\'));
        Quoted.append(C);
    }
    Quoted.append(QLatin1Char('"'));
    QString Value;
    for (const QChar C : std::as_const(Quoted)) {
        if (C == QLatin1Char('\\'))
            Value.append(QStringLiteral("\\\\"));
        else if (C == QLatin1Char('\n'))
            Value.append(QStringLiteral("\\n"));
        else if (C == QLatin1Char('\r'))
            Value.append(QStringLiteral("\\r"));
        else if (C == QLatin1Char('\t'))
            Value.append(QStringLiteral("\\t"));
        else if (C == QLatin1Char('%'))
            Value.append(QStringLiteral("%%"));
        else
            Value.append(C);
    }
    return Value;
}
} // namespace

void SetAutostart(const QString& Name, const QString& Command, bool Enabled) {
    const QString FileName = AutostartFileName(Name);
    if (!Enabled) {
        QFile::remove(FileName);
        return;
    }
    if (!QDir().mkpath(QFileInfo(FileName).absolutePath()))
        return;
    const QString Text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Quorvantis\n"
                                        "Exec=%1\n"
                                        "X-GNOME-Autostart-enabled=true\n"
                                        "X-GNOME-Autostart-Delay=5\n"
                                        "X-KDE-autostart-after=panel\n"
                                        "X-LXQt-Need-Tray=true\n")
                             .arg(DesktopExecValue(Command));
    // Written beside and renamed over the old entry, so a session start never reads half a file.
    QSaveFile File(FileName);
    if (!File.open(QIODevice::WriteOnly))
        return;
    File.write(Text.toUtf8());
    File.commit();
}

QString DefaultInstallFolder() {
    return FolderFromEnvironment("XDG_DATA_HOME", ".local/share") + QStringLiteral("/Quorvantis/");
}

QString GetInstallFolder() {
    QString Folder = ReadSettingString(QString(), QStringLiteral("install"), DefaultInstallFolder());
    // An empty value would make the folder "/": the default is the only sensible reading.
    if (Folder.isEmpty())
        Folder = DefaultInstallFolder();
    if (!Folder.endsWith(QLatin1Char('/')))
        Folder.append(QLatin1Char('/'));
    return Folder;
}

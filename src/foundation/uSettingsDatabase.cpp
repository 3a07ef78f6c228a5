#include "uSettingsDatabase.h"

#include "uRegistry.h"
#include "uTLogger.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QThread>

#include <algorithm>

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

namespace SettingsDb {

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

} // namespace

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

namespace {

bool IsDamageCode(int Code) {
    const int Primary = Code & 0xff;
    return Primary == SQLITE_CORRUPT || Primary == SQLITE_NOTADB;
}

} // namespace

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

namespace {

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

} // namespace

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

TConnection::TOpenResult TConnection::Open(const QString& FileName, QString& Error) {
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
        SwitchToWal();
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
            if (sqlite3_prepare_v3(Db, StatementSql[Id], -1, SQLITE_PREPARE_PERSISTENT, &FStatements[Id], nullptr) !=
                SQLITE_OK)
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

void TConnection::SwitchToWal() {
    // Two connections turning a new file to WAL at once both hold a read lock and
    // want the write lock; SQLite answers one of them "locked" at once rather than
    // wait into a deadlock. By the retry the other has finished and the file is WAL.
    QDeadlineTimer Deadline(BusyTimeoutMs);
    for (int Pause = 1;; Pause = std::min(Pause * 2, 50)) {
        const int Rc = sqlite3_exec(Db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        if (Rc == SQLITE_OK)
            return;
        if ((Rc & 0xff) != SQLITE_BUSY || Deadline.hasExpired())
            ThrowSqlite(Db);
        QThread::msleep(Pause);
    }
}

bool TConnection::HasDatabaseHeader() const {
    QFile F(QFile::decodeName(FNativeFile));
    if (!F.exists() || F.size() == 0)
        return true;
    if (!F.open(QIODevice::ReadOnly))
        return true; // let SQLite report why it cannot be read
    return F.size() >= 100 && F.read(16) == QByteArray("SQLite format 3", 16);
}

QString TConnection::QuickCheck() {
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

int TConnection::UserVersion() {
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

thread_local TConnection ThreadConnection;

namespace {

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

} // namespace

TConnection* Acquire(QString* Error) {
    TConnection& C = ThreadConnection;
    const QString File = CurrentDatabaseFile();
    if (C.Db && C.File == File && (C.ReadDepth > 0 || C.WriteDepth > 0 || C.StillCurrent()))
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

std::optional<qint64> FindKey(TConnection& C, const QByteArray& Fold, QString* Path) {
    TStatement S(C, sqSelectKey);
    S.Bind(1, Fold);
    if (!S.Step())
        return std::nullopt;
    if (Path)
        *Path = S.Text(1);
    return S.Integer(0);
}

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

} // namespace SettingsDb

#include "uRegistry.h"

#include "uErrors.h"
#include "uSettingsDatabase.h"

// The public operations of the settings store; the database machinery, storage
// layout and damage handling are in uSettingsDatabase.cpp.

using namespace SettingsDb;

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

TSettingsWriteTransaction::TSettingsWriteTransaction() {
    QString Error;
    TConnection* C = Acquire(&Error);
    if (!C)
        throw ESettingsError(QStringLiteral("Settings store: cannot write: %1").arg(Error));
    if (C->WriteDepth > 0) {
        ++C->WriteDepth; // nested: the outer one decides
        FActive = true;
        return;
    }
    try {
        // A read snapshot cannot be upgraded reliably: end it, and take it up again after.
        FResumeRead = C->ReadDepth > 0 && !sqlite3_get_autocommit(C->Db);
        if (FResumeRead)
            C->Exec("COMMIT");
        C->Exec("BEGIN IMMEDIATE");
    } catch (const TSqliteError& E) {
        throw ESettingsError(QStringLiteral("Settings store: cannot write: %1").arg(E.Message));
    }
    C->WriteDepth = 1;
    FActive = true;
}

void TSettingsWriteTransaction::Commit() {
    if (!FActive)
        return;
    TConnection& C = ThreadConnection;
    FActive = false;
    if (!C.Db || C.WriteDepth == 0)
        throw ESettingsError(QStringLiteral("Settings store: the transaction was lost"));
    if (--C.WriteDepth > 0)
        return;
    if (sqlite3_exec(C.Db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const QString Message = QString::fromUtf8(sqlite3_errmsg(C.Db));
        sqlite3_exec(C.Db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw ESettingsError(QStringLiteral("Settings store: cannot write: %1").arg(Message));
    }
    if (FResumeRead)
        sqlite3_exec(C.Db, "BEGIN", nullptr, nullptr, nullptr);
}

TSettingsWriteTransaction::~TSettingsWriteTransaction() {
    if (!FActive)
        return;
    TConnection& C = ThreadConnection;
    if (!C.Db || C.WriteDepth == 0)
        return;
    // Nested and given up: the outer transaction rolls back as a whole.
    if (--C.WriteDepth > 0)
        return;
    sqlite3_exec(C.Db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (FResumeRead)
        sqlite3_exec(C.Db, "BEGIN", nullptr, nullptr, nullptr);
}

QByteArray SettingsNameOrder(const QString& Name) {
    return FoldUtf8(Name);
}

#pragma once

#include <QString>
#include <QStringList>

// The settings store: a tree of keys with typed values (string, 32-bit integer)
// kept in an SQLite database at $XDG_CONFIG_HOME/Quorvantis/registry.db.
// Key paths use "\" as separator and are relative to the program key; the empty
// SubKey names the program key itself. Key and value names are case-insensitive
// and case-preserving. Every call stands alone: nothing is cached, every write is
// its own transaction. Reading a value of the other type throws ESettingsError;
// a failed write throws ESettingsError. May be called from any thread.

QString ReadSettingString(const QString& SubKey, const QString& Name, const QString& Default);
void WriteSettingString(const QString& SubKey, const QString& Name, const QString& Value);
int ReadSettingInteger(const QString& SubKey, const QString& Name, int Default);
void WriteSettingInteger(const QString& SubKey, const QString& Name, int Value);
// True exactly when the stored integer equals 1; Default applies when the value is missing.
bool ReadSettingBool(const QString& SubKey, const QString& Name, bool Default);
void WriteSettingBool(const QString& SubKey, const QString& Name, bool Value);
bool SettingsKeyExists(const QString& SubKey);
bool SettingsValueExists(const QString& SubKey, const QString& Name);
// Direct sub-key names, case-insensitive alphabetical order; empty when the key is missing.
QStringList GetSettingsKeyNames(const QString& SubKey);
// Deletes the key with all sub-keys and values; false when it did not exist.
bool DeleteSettingsKey(const QString& SubKey);
// False when the key or the value does not exist.
bool DeleteSettingsValue(const QString& SubKey, const QString& Name);

// Writes (Enabled) or deletes the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/<Name>.desktop whose Exec line starts Command.
// Never reports a failure.
void SetAutostart(const QString& Name, const QString& Command, bool Enabled);
QString AutostartFileName(const QString& Name);

// `install` with $XDG_DATA_HOME/Quorvantis/ as default; always ends in "/".
QString GetInstallFolder();
// The default written to `install` at the first start.
QString DefaultInstallFolder();
// Folder and file of the settings database (follows $XDG_CONFIG_HOME at each call).
QString SettingsDatabaseFile();

// Bulk readers (the menu build) may bracket many reads in one read transaction of
// the calling thread's connection; reads inside still see one consistent state.
class TSettingsReadTransaction final {
public:
    TSettingsReadTransaction();
    ~TSettingsReadTransaction();
    TSettingsReadTransaction(const TSettingsReadTransaction&) = delete;
    TSettingsReadTransaction& operator=(const TSettingsReadTransaction&) = delete;

private:
    bool FActive = false;
};

// Several writes that land together or not at all (the settings dialog's Ok):
// every write of this thread inside it joins it; nothing is stored unless Commit
// is called. Throws ESettingsError when the store cannot be written.
class TSettingsWriteTransaction final {
public:
    TSettingsWriteTransaction();
    ~TSettingsWriteTransaction();
    TSettingsWriteTransaction(const TSettingsWriteTransaction&) = delete;
    TSettingsWriteTransaction& operator=(const TSettingsWriteTransaction&) = delete;

    void Commit();

private:
    bool FActive = false;
    bool FResumeRead = false;
};

// The order in which the store lists names (GetSettingsKeyNames): compare these bytes.
QByteArray SettingsNameOrder(const QString& Name);

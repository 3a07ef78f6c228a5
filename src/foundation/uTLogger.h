#pragma once

#include <QMutex>
#include <QString>
#include <cstdint>

// The program log: one line per event, "timestamp|LABEL|text" + CR LF, appended
// to GetInstallFolder() + Name + ".log". The file is opened and closed for every
// line under a mutex, so any thread may log. Write failures are swallowed.
class TLogger final {
public:
    enum TLogLevel : int8_t { llNone = 0, llError = 1, llInfo = 2, llDebug = 3, llStep = 4 };

    // Threshold from the stored `debug` value, existing log kept.
    explicit TLogger(const QString& Name);
    // Level -1 takes the threshold from `debug`; Append false deletes the old log.
    TLogger(int Level, bool Append, const QString& Name);
    TLogger(const TLogger&) = delete;
    TLogger& operator=(const TLogger&) = delete;

    void Log(int Level, const QString& Text);
    void Error(const QString& Text) { Log(llError, Text); }
    void Info(const QString& Text) { Log(llInfo, Text); }
    void Debug(const QString& Text) { Log(llDebug, Text); }
    void Clear();

    int8_t Level() const { return FLevel; }
    QString FileName() const { return FFileName; }

    // The stored `debug` value mapped onto the threshold range: below -1 counts as
    // -1 (silent), above 4 as 4 (everything, with message boxes). An unreadable
    // `debug` (wrong type, unusable store) gives the default threshold 1.
    static int8_t LevelFromSetting(int Stored);
    // The timestamp of a line: the process-wide short date format, a blank and the
    // time as HH:mm:ss (24 hours, fixed so lines stay comparable across locales);
    // at exactly midnight the blank and the time are left out.
    static QString FormatTimestamp(const class QDateTime& Moment);

private:
    int8_t FLevel = llError;
    QString FFileName;
    QMutex FLock;
};

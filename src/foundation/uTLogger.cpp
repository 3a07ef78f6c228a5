#include "uTLogger.h"

#include "uFormatSettings.h"
#include "uRegistry.h"
#include "uUIHooks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

QString LogFolder() {
    // The log must work even when the store cannot tell the install folder.
    try {
        return GetInstallFolder();
    } catch (...) {
        return DefaultInstallFolder();
    }
}

const char* LevelLabel(int Level) {
    switch (Level) {
    case TLogger::llError:
        return "ERROR";
    case TLogger::llInfo:
        return "INFO";
    case TLogger::llDebug:
        return "DEBUG";
    case TLogger::llStep:
        return "STEP";
    default:
        return nullptr;
    }
}

// The message box of the highest level belongs to the thread of the application
// object. A worker hands the line over without waiting: the UI thread may itself be
// waiting for that worker.
void ShowOnUserInterface(const QString& Line) {
    QCoreApplication* App = QCoreApplication::instance();
    if (!App || !UIHooks().ShowLogMessage)
        return;
    if (QThread::currentThread() == App->thread()) {
        UIHooks().ShowLogMessage(Line);
        return;
    }
    QMetaObject::invokeMethod(
        App,
        [Line] {
            if (const auto& Show = UIHooks().ShowLogMessage)
                Show(Line);
        },
        Qt::QueuedConnection);
}

} // namespace

TLogger::TLogger(const QString& Name) : TLogger(-1, true, Name) {}

TLogger::TLogger(int Level, bool Append, const QString& Name) : FFileName(LogFolder() + Name + QStringLiteral(".log")) {
    if (Level == -1) {
        try {
            FLevel = LevelFromSetting(ReadSettingInteger(QString(), QStringLiteral("debug"), llError));
        } catch (...) {
            // A damaged or mistyped `debug` must not cost the log.
            FLevel = llError;
        }
    } else {
        FLevel = LevelFromSetting(Level);
    }
    if (!Append)
        Clear();
}

int8_t TLogger::LevelFromSetting(int Stored) {
    if (Stored < -1)
        return -1;
    if (Stored > llStep)
        return llStep;
    return static_cast<int8_t>(Stored);
}

QString TLogger::FormatTimestamp(const QDateTime& Moment) {
    const QString Date = FormatShortDate(Moment.date());
    if (Moment.time().msecsSinceStartOfDay() == 0)
        return Date;
    return Date + QLatin1Char(' ') + Moment.time().toString(QStringLiteral("HH:mm:ss"));
}

void TLogger::Log(int Level, const QString& Text) {
    if (!(Level <= FLevel || (Level >= llStep && FLevel >= llDebug)))
        return;
    const char* Label = LevelLabel(Level);
    if (!Label)
        return;
    const QString Line = FormatTimestamp(QDateTime::currentDateTime()) + QLatin1Char('|') + QLatin1String(Label) +
                         QLatin1Char('|') + Text;
    if (FLevel == llStep || Level == llStep)
        ShowOnUserInterface(Line);

    const QByteArray Bytes = (Line + QStringLiteral("\r\n")).toUtf8();
    QMutexLocker Lock(&FLock);
    QFile File(FFileName);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append)) {
        // The install folder may not exist yet on a fresh system; one attempt to make it.
        if (!QDir().mkpath(QFileInfo(FFileName).absolutePath()) || !File.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
    }
    File.write(Bytes);
    File.flush();
    File.close();
}

void TLogger::Clear() {
    QMutexLocker Lock(&FLock);
    QFile::remove(FFileName);
}

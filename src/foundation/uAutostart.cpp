#include "uRegistry.h"

#include "uSettingsDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <utility>

// The XDG autostart entry and the install folder.

QString AutostartFileName(const QString& Name) {
    return SettingsDb::ConfigHome() + QStringLiteral("/autostart/") + Name + QStringLiteral(".desktop");
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
    const QByteArray Content = Text.toUtf8();
    // Every start sets the entry; an unchanged one is left alone, which spares the
    // start two disk flushes.
    QFile Existing(FileName);
    if (Existing.open(QIODevice::ReadOnly) && Existing.size() == Content.size() && Existing.readAll() == Content)
        return;
    Existing.close();
    // Written beside and renamed over the old entry, so a session start never reads half a file.
    QSaveFile File(FileName);
    if (!File.open(QIODevice::WriteOnly))
        return;
    File.write(Content);
    File.commit();
}

QString DefaultInstallFolder() {
    return SettingsDb::FolderFromEnvironment("XDG_DATA_HOME", ".local/share") + QStringLiteral("/Quorvantis/");
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

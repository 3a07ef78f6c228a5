#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class QProcess;

// The built quorvantis-vendor-server, started on a free loopback port with a
// temporary records file; stopped (SIGTERM) in the destructor. Throws
// std::runtime_error when it does not come up.
class TVendorServerProcess final {
public:
    explicit TVendorServerProcess(const QString& ContentDir = DefaultContentDir(),
                                  const QStringList& ExtraArguments = {});
    ~TVendorServerProcess();
    TVendorServerProcess(const TVendorServerProcess&) = delete;
    TVendorServerProcess& operator=(const TVendorServerProcess&) = delete;

    // The sample content of the source tree (resources/vendor).
    static QString DefaultContentDir();
    // Copies a content folder (default: the sample) into Target, so a test can change it.
    static void CopyContent(const QString& Target, const QString& Source = DefaultContentDir());

    QString BaseURL() const { return FBaseURL; } // "http://127.0.0.1:PORT"
    int Port() const { return FPort; }
    qint64 ProcessId() const;
    QString ContentDir() const { return FContentDir; }
    QString RecordsFile() const { return FRecordsFile; }
    // Every request so far as "METHOD raw-target status", oldest first.
    QStringList Requests() const;
    // The recorded submissions, one object per line, oldest first.
    QList<QJsonObject> Records() const;
    // SIGTERM and wait; returns the exit code (-1 when it had to be killed or crashed).
    int Stop();

private:
    QTemporaryDir FDir;
    QString FContentDir;
    QString FRecordsFile;
    QString FRequestLog;
    QString FBaseURL;
    int FPort = 0;
    std::unique_ptr<QProcess> FProcess;
};

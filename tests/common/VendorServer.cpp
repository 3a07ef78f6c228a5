#include "VendorServer.h"

#include "TestSupport.h"
#include "uBuildPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <stdexcept>

TVendorServerProcess::TVendorServerProcess(const QString& ContentDir, const QStringList& ExtraArguments)
    : FContentDir(ContentDir), FRecordsFile(FDir.path() + "/submissions.jsonl"),
      FRequestLog(FDir.path() + "/requests.log"), FProcess(std::make_unique<QProcess>()) {
    const QString Program = BuildDir() + "/quorvantis-vendor-server";
    FProcess->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    FProcess->setReadChannel(QProcess::StandardOutput);
    // Its complaints belong in the test output.
    FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithTheTest(*FProcess);
    FProcess->start(Program, QStringList{"--content", ContentDir, "--port", "0", "--records", FRecordsFile,
                                         "--request-log", FRequestLog} +
                                 ExtraArguments);
    if (!FProcess->waitForStarted(10000))
        throw std::runtime_error(("cannot start " + Program + ": " + FProcess->errorString()).toStdString());

    QByteArray Output;
    QDeadlineTimer Deadline(20000);
    while (!Output.contains('\n') && !Deadline.hasExpired()) {
        if (FProcess->state() == QProcess::NotRunning)
            break;
        FProcess->waitForReadyRead(200);
        Output += FProcess->readAllStandardOutput();
    }
    const QByteArray Line = Output.left(Output.indexOf('\n')).trimmed();
    const QByteArray Prefix = "Listening on ";
    if (!Line.startsWith(Prefix)) {
        Stop();
        throw std::runtime_error("vendor server did not come up; it said: " + Output.toStdString());
    }
    FBaseURL = QString::fromLatin1(Line.mid(Prefix.size()));
    FPort = FBaseURL.section(':', -1).toInt();
}

qint64 TVendorServerProcess::ProcessId() const {
    return FProcess ? FProcess->processId() : 0;
}

TVendorServerProcess::~TVendorServerProcess() {
    Stop();
}

QString TVendorServerProcess::DefaultContentDir() {
    return QStringLiteral(QUORVANTIS_SOURCE_RESOURCES "/vendor");
}

void TVendorServerProcess::CopyContent(const QString& Target, const QString& Source) {
    QDir().mkpath(Target);
    QDirIterator It(Source, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (It.hasNext()) {
        const QString File = It.next();
        if (File.endsWith(".jsonl"))
            continue; // records of a manual run
        const QString Copy = Target + "/" + QDir(Source).relativeFilePath(File);
        QDir().mkpath(QFileInfo(Copy).path());
        QFile::remove(Copy);
        if (!QFile::copy(File, Copy))
            throw std::runtime_error(("cannot copy " + File + " to " + Copy).toStdString());
    }
}

QStringList TVendorServerProcess::Requests() const {
    QStringList Lines = QString::fromUtf8(ReadFileBytes(FRequestLog)).split('\n');
    Lines.removeAll(QString());
    return Lines;
}

QList<QJsonObject> TVendorServerProcess::Records() const {
    QList<QJsonObject> Result;
    QFile File(FRecordsFile);
    if (!File.open(QIODevice::ReadOnly))
        return Result;
    for (const QByteArray& Line : File.readAll().split('\n')) {
        if (Line.trimmed().isEmpty())
            continue;
        QJsonParseError Error;
        const QJsonDocument Doc = QJsonDocument::fromJson(Line, &Error);
        if (!Doc.isObject())
            throw std::runtime_error("bad record line: " + Line.toStdString());
        Result.append(Doc.object());
    }
    return Result;
}

int TVendorServerProcess::Stop() {
    if (!FProcess || FProcess->state() == QProcess::NotRunning)
        return FProcess && FProcess->exitStatus() == QProcess::NormalExit ? FProcess->exitCode() : -1;
    FProcess->terminate();
    if (!FProcess->waitForFinished(10000)) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
        return -1;
    }
    return FProcess->exitStatus() == QProcess::NormalExit ? FProcess->exitCode() : -1;
}

#include "uCatalogueRefresh.h"

#include "uConst.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uServerPaths.h"
#include "uTLogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString CatalogueRequestURL(int Ref) {
    return BuildServerURL(TServerPath::Version2Xml,
                          {{QStringLiteral("ref"), QString::number(Ref)}, {QStringLiteral("version"), ProgramVersion}});
}

QString CatalogueFileName() {
    return GetInstallFolder() + QStringLiteral("quorvantis.xml");
}

namespace {
// The local catalogue through a temporary file in the same folder: nothing is
// replaced until Commit, so a crash or a refused answer never costs the good file.
class TCatalogueFileWriter final {
public:
    TCatalogueFileWriter() : FFileName(CatalogueFileName()), FFile(FFileName) {}

    void Write(const QByteArray& Bytes) {
        if (QFileInfo(FFileName).isDir())
            throw EQuorvantis(QStringLiteral("%1 is a folder, not a file").arg(FFileName));
        const QString Folder = QFileInfo(FFileName).absolutePath();
        if (!QDir().mkpath(Folder))
            throw EQuorvantis(QStringLiteral("Cannot create folder %1").arg(Folder));
        if (!FFile.open(QIODevice::WriteOnly) || FFile.write(Bytes) != Bytes.size())
            throw EQuorvantis(QStringLiteral("Cannot write %1: %2").arg(FFileName, FFile.errorString()));
    }
    void Commit() {
        if (!FFile.commit())
            throw EQuorvantis(QStringLiteral("Cannot write %1: %2").arg(FFileName, FFile.errorString()));
    }

private:
    QString FFileName;
    QSaveFile FFile; // dropped without a trace unless committed
};
} // namespace

void StoreCatalogueFile(const QByteArray& Bytes) {
    TCatalogueFileWriter Writer;
    Writer.Write(Bytes);
    Writer.Commit();
}

TRefreshResult HandleCatalogueAnswer(const QString& URL, const QByteArray& Body, const QString& Error,
                                     TUpdateVersion& Catalogue, TLogger& Logger) {
    TRefreshResult Result;
    Result.URL = URL;
    try {
        if (!Error.isEmpty())
            throw EQuorvantis(Error);
        Result.Downloaded = true;
        // Stored and taken only when it is a catalogue with shops, so an error page, an
        // error document or a cut-off answer never replaces the good file that the next
        // offline start depends on, nor empties the menu. A good answer that cannot be
        // stored is still used, and the log says why it was not stored.
        if (!Catalogue.LoadFromStream(Body, true)) // logs why it is no catalogue
            throw EQuorvantis(QStringLiteral("The answer is no catalogue; the previous one is kept"));
        Result.Replaced = true;
        try {
            StoreCatalogueFile(Body);
        } catch (const std::exception& E) {
            Logger.Error(QStringLiteral("GetUpdates: the catalogue is used but not stored: ") + ExceptionMessage(E));
        }
    } catch (const std::exception& E) {
        Result.Error = ExceptionMessage(E);
        Logger.Error(QStringLiteral("GetUpdates: URL=") + Result.URL + QStringLiteral(": ") + Result.Error);
        return Result;
    }
    Logger.Info(QStringLiteral("GetUpdates: Version=") + ProgramVersion + QStringLiteral(" Server=") +
                Catalogue.Version + QStringLiteral(" Check=") + Catalogue.Check + QStringLiteral(" URL=") + Result.URL);
    Logger.Debug(Catalogue.GetSummary());
    Result.State = Catalogue.GetUpdateState(ProgramVersion);
    return Result;
}

UpdateState LoadCatalogueFile(TUpdateVersion& Catalogue, TLogger& Logger, bool& Loaded) {
    Loaded = false;
    const QString FileName = CatalogueFileName();
    if (QFileInfo(FileName).isDir()) {
        Logger.Error(QStringLiteral("LoadVersionFile: %1 is a folder, not a file").arg(FileName));
        return 0;
    }
    if (!QFileInfo(FileName).isFile())
        return 0;
    try {
        QFile File(FileName);
        if (!File.open(QIODevice::ReadOnly))
            throw EQuorvantis(QStringLiteral("Cannot read %1: %2").arg(FileName, File.errorString()));
        const QByteArray Bytes = File.readAll();
        Catalogue.LoadFromStream(Bytes);
        Loaded = true;
        Logger.Info(QStringLiteral("Load data from file: ") + Catalogue.Version);
        return Catalogue.GetUpdateState(ProgramVersion);
    } catch (const std::exception& E) {
        Logger.Error(QStringLiteral("LoadVersionFile: ") + ExceptionMessage(E));
        return 0;
    }
}

QString StartupBalloonText(UpdateState State, bool FirstStart) {
    if (FirstStart)
        return txtFirstStartBalloon();
    switch (State) {
    case usError:
        return txtVersionCheckError() + QStringLiteral("\r\n\r\n") + txtTryLater();
    case usNewVersion:
    case usRequiredVersion:
        return txtNotUpToDateBalloon();
    case usCheckOutdated:
        return txtCheckOutdatedBalloon();
    default:
        return {};
    }
}

TNewsItemPtr NewsItemToOffer(const TUpdateVersion& Catalogue, const QString& LastNews) {
    if (Catalogue.NewsItems.empty())
        return nullptr;
    TNewsItemPtr Item = Catalogue.NewsItems.front();
    // Ordinal comparison of the UTF-16 code units: a proper prefix sorts first.
    if (!(LastNews < Item->Date))
        return nullptr;
    return Item;
}

QString NewsQuestionText(const TNewsItem& Item) {
    return Item.Text + QStringLiteral("\r\n\r\n") + QStringLiteral("Wollen Sie den kompletten Artikel lesen?");
}

QString ShopParams(int Ref, const QString& Check) {
    return QStringLiteral("&ref=") + QString::number(Ref) + QStringLiteral("&check=") + Check +
           QStringLiteral("&version=") + ProgramVersion + QStringLiteral("&subid=software");
}

#include "uAssets.h"

#include "uBuildPaths.h"
#include "uRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QString ProgramFolder() {
    // Works before and without an application object.
    const QString Exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return Exe.isEmpty() ? QCoreApplication::applicationDirPath() : QFileInfo(Exe).absolutePath();
}

QString WithSlash(QString Folder) {
    if (!Folder.endsWith(u'/'))
        Folder += u'/';
    return Folder;
}
} // namespace

QStringList AssetFolders() {
    QStringList Folders;
    try {
        Folders << GetInstallFolder();
    } catch (const std::exception&) {
        // No store: the shipped folders still serve.
    }
    const QString Program = ProgramFolder();
    if (!Program.isEmpty())
        Folders << QDir::cleanPath(Program + QStringLiteral("/../share/quorvantis"));
    Folders << QStringLiteral(QUORVANTIS_INSTALL_DATADIR);
    const QString BuildTree = QDir::cleanPath(QStringLiteral(QUORVANTIS_BINARY_DIR));
    if (!Program.isEmpty() && (Program == BuildTree || Program.startsWith(BuildTree + u'/')))
        Folders << QStringLiteral(QUORVANTIS_SOURCE_RESOURCES);
    for (QString& Folder : Folders)
        Folder = WithSlash(Folder);
    Folders.removeDuplicates();
    return Folders;
}

QStringList FindAssets(const QString& RelativeName) {
    QStringList Found;
    if (RelativeName.isEmpty())
        return Found;
    for (const QString& Folder : AssetFolders()) {
        const QFileInfo File(Folder + RelativeName);
        if (File.isFile())
            Found << File.absoluteFilePath();
    }
    Found.removeDuplicates();
    return Found;
}

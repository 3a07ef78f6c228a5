#include "uWebModule.h"

#include "uBuildPaths.h"
#include "uErrors.h"
#include "uTWebBrowser.h"

#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>
#include <memory>

namespace {

std::unique_ptr<QPluginLoader> Loader; // kept for the process: the module is never unloaded
IWebBrowserFactory* Factory = nullptr;

QString ProgramFolder() {
    const QString Exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QFileInfo(Exe).absolutePath();
}

} // namespace

QStringList WebModuleFolders() {
    const QString Program = ProgramFolder();
    QStringList Folders{QDir::cleanPath(Program + QStringLiteral("/../lib/quorvantis")), Program,
                        QDir::cleanPath(QStringLiteral(QUORVANTIS_INSTALL_LIBDIR))};
    Folders.removeDuplicates();
    return Folders;
}

IWebBrowserFactory& WebBrowserFactory() {
    if (Factory)
        return *Factory;
    QStringList Reasons;
    for (const QString& Folder : WebModuleFolders()) {
        const QString File = Folder + u'/' + QString::fromLatin1(WebModuleFileName);
        if (!QFileInfo(File).isFile())
            continue;
        auto Candidate = std::make_unique<QPluginLoader>(File);
        // The engine registers process-wide state; it must stay loaded once it ran.
        Candidate->setLoadHints(QLibrary::PreventUnloadHint);
        QObject* Root = Candidate->instance();
        if (auto* Found = qobject_cast<IWebBrowserFactory*>(Root)) {
            Loader = std::move(Candidate);
            Factory = Found;
            return *Factory;
        }
        Reasons << (Root ? File + QStringLiteral(": not a web module") : Candidate->errorString());
    }
    if (Reasons.isEmpty())
        Reasons << QStringLiteral("%1 not found in %2")
                       .arg(QString::fromLatin1(WebModuleFileName), WebModuleFolders().join(QStringLiteral(", ")));
    throw EQuorvantis(QStringLiteral("Web module not loaded: ") + Reasons.join(QStringLiteral("; ")));
}

bool WebModuleLoaded() {
    return Factory != nullptr;
}

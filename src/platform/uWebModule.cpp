#include "uWebModule.h"

#include "uBuildPaths.h"
#include "uErrors.h"
#include "uTWebBrowser.h"
#include "uTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>
#include <QSet>
#include <algorithm>
#include <memory>

#include <malloc.h>
#include <sys/mman.h>

namespace {

std::unique_ptr<QPluginLoader> Loader; // kept for the process: the module is never unloaded
IWebBrowserFactory* Factory = nullptr;
QSet<QByteArray> FilesBeforeModule;
QSet<QByteArray> EngineFiles; // filled once the first browser exists

// Each mapping of a regular file: its address range and path.
struct TFileMapping {
    quintptr Start;
    quintptr End;
    QByteArray Path;
};

QList<TFileMapping> FileMappings() {
    QList<TFileMapping> Mappings;
    QFile Maps(QStringLiteral("/proc/self/maps"));
    if (!Maps.open(QIODevice::ReadOnly))
        return Mappings;
    // "start-end perms offset dev inode path"; the path is the rest of the line, blanks included.
    for (const QByteArray& Line : Maps.readAll().split('\n')) {
        QList<QByteArray> Fields;
        qsizetype At = 0;
        while (Fields.size() < 5 && At < Line.size()) {
            while (At < Line.size() && Line[At] == ' ')
                ++At;
            const qsizetype Blank = Line.indexOf(' ', At);
            Fields.append(Line.mid(At, Blank < 0 ? -1 : Blank - At));
            At = Blank < 0 ? Line.size() : Blank;
        }
        Fields.append(Line.mid(At).trimmed());
        if (Fields.size() != 6 || Fields[4] == "0" || !Fields[5].startsWith('/') || Fields[5].startsWith("/dev/"))
            continue;
        const qsizetype Dash = Fields[0].indexOf('-');
        bool StartOk = false, EndOk = false;
        const quintptr Start = Fields[0].left(Dash).toULongLong(&StartOk, 16);
        const quintptr End = Fields[0].mid(Dash + 1).toULongLong(&EndOk, 16);
        if (StartOk && EndOk && End > Start)
            Mappings.append({Start, End, Fields[5]});
    }
    return Mappings;
}

QSet<QByteArray> MappedFiles() {
    QSet<QByteArray> Files;
    for (const TFileMapping& Mapping : FileMappings())
        Files.insert(Mapping.Path);
    return Files;
}

QString ProgramFolder() {
    const QString Exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QFileInfo(Exe).absolutePath();
}

} // namespace

void PrepareWebEngineEnvironment() {
    // Without it the engine switches the page's accessibility off on Linux; with it
    // the page follows QAccessible: built while assistive technology is active (also
    // when it starts later), and costing nothing otherwise.
    SetOwnEnvironmentVariable("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
    // While it starts, the engine asks the platform whether OpenGL may run on other
    // threads; on X11 answering creates a trial context, which loads the OpenGL
    // driver although the engine draws in software. Without the trial the answer is
    // simply yes, which nothing here uses. Nothing else in the program uses OpenGL.
    SetOwnEnvironmentVariable("QT_OPENGL_NO_SANITY_CHECK", "1");
}

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
    if (FilesBeforeModule.isEmpty())
        FilesBeforeModule = MappedFiles();
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

TWebBrowser* CreateWebBrowser(QWidget* Parent, QString& Error) {
    TWebBrowser* Browser = WebBrowserFactory().CreateBrowser(Parent, Error);
    // The engine has started and mapped its libraries and resources; whatever
    // else comes in later (fonts, the program's own plugins) is not its own.
    if (Browser && EngineFiles.isEmpty())
        EngineFiles = MappedFiles() - FilesBeforeModule;
    return Browser;
}

QByteArrayList WebEngineFiles() {
    QByteArrayList Files(EngineFiles.cbegin(), EngineFiles.cend());
    std::sort(Files.begin(), Files.end());
    return Files;
}

bool WebModuleLoaded() {
    return Factory != nullptr;
}

void ReleaseEngineMemory() {
    ::malloc_trim(0);
#ifdef MADV_PAGEOUT
    // The engine's code and data files, read in while its pages were shown; they are
    // read back when a window needs them again. Files the rest of the program uses
    // (fonts, its libraries) stay.
    for (const TFileMapping& Mapping : FileMappings())
        if (EngineFiles.contains(Mapping.Path))
            ::madvise(reinterpret_cast<void*>(Mapping.Start), Mapping.End - Mapping.Start, MADV_PAGEOUT);
#endif
}

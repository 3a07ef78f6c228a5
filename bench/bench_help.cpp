// The help window and its RTF reader. Run with QT_QPA_PLATFORM=offscreen (set
// here when unset); settings live in a temporary XDG_CONFIG_HOME.
//   BM_OpenHelpWindow: a new help window with our help document, laid out and painted.
//   BM_ReopenHelpWindow: showing the existing window again (the document is reloaded).
//   BM_ReadRtf/<bytes>: the reader alone on formatted text of that size.
//   BM_ReadRtfFormatChanges/<bytes>: one paragraph of "{\b x}{\i y}{\fs40 z}", a format change every 6 bytes.
//   BM_ShowHelpFormatChanges/<bytes>: that document through the help window, read, laid out and painted.
#include "uAssets.h"
#include "uConst.h"
#include "uRtfReader.h"
#include "uTProgram.h"
#include "ufrmHelp.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>
#include <benchmark/benchmark.h>

namespace {

// Lays the document out completely and paints the window once.
// The program object the window follows (created once the application exists).
TProgram& BenchProgram() {
    static TProgram Program;
    return Program;
}

void LayOut(TfrmHelp& Help) {
    QTextBrowser* View = Help.findChild<QTextBrowser*>(QStringLiteral("rdtHelp"));
    benchmark::DoNotOptimize(View->document()->documentLayout()->documentSize());
    benchmark::DoNotOptimize(Help.grab());
}

void BM_OpenHelpWindow(benchmark::State& State) {
    SetCurrentLanguage(State.range(0));
    for (auto _ : State) {
        TfrmHelp Help(BenchProgram());
        Help.ApplyLanguage();
        Help.show();
        LayOut(Help);
    }
}

void BM_ReopenHelpWindow(benchmark::State& State) {
    SetCurrentLanguage(0);
    TfrmHelp Help(BenchProgram());
    Help.ApplyLanguage();
    Help.show();
    LayOut(Help);
    for (auto _ : State) {
        Help.hide();
        Help.ApplyLanguage();
        Help.show();
        LayOut(Help);
    }
}

// Formatted paragraphs (bold, italic, fonts, colours, \'hh and \u characters) up to Size bytes.
QByteArray RtfOfSize(qsizetype Size) {
    QByteArray Rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 DejaVu Sans;}"
                     "{\\f1\\fmodern\\fcharset0 DejaVu Sans Mono;}}{\\colortbl;\\red16\\green42\\blue107;}\n";
    const QByteArray Paragraph =
        "\\pard\\plain\\sa100\\f0\\fs20 Quorvantis wohnt im Infobereich Ihrer Desktop-Leiste. Klicken Sie auf das "
        "Symbol, um das Men\\'fc zu \\'f6ffnen: {\\b fett}, {\\i kursiv}, {\\f1\\cf1 Schreibmaschine} und "
        "\\u8364? Euro.\\par\n";
    while (Rtf.size() + Paragraph.size() < Size)
        Rtf += Paragraph;
    return Rtf + "}";
}

void BM_ReadRtf(benchmark::State& State) {
    const QByteArray Rtf = RtfOfSize(State.range(0));
    for (auto _ : State) {
        QTextDocument Document;
        ReadRtf(Rtf, Document);
        benchmark::DoNotOptimize(Document.characterCount());
    }
    State.SetBytesProcessed(State.iterations() * Rtf.size());
}

QByteArray FormatChangesOfSize(qsizetype Size) {
    QByteArray Rtf = "{\\rtf1\\ansi ";
    while (Rtf.size() < Size - 40)
        Rtf += "{\\b x}{\\i y}{\\fs40 z}";
    return Rtf + "}";
}

void BM_ReadRtfFormatChanges(benchmark::State& State) {
    const QByteArray Rtf = FormatChangesOfSize(State.range(0));
    for (auto _ : State) {
        QTextDocument Document;
        ReadRtf(Rtf, Document);
        benchmark::DoNotOptimize(Document.characterCount());
    }
    State.SetBytesProcessed(State.iterations() * Rtf.size());
}

void BM_ShowHelpFormatChanges(benchmark::State& State) {
    QTemporaryDir Folder;
    const QString File = Folder.filePath(QStringLiteral("help.rtf"));
    QFile Out(File);
    Out.open(QIODevice::WriteOnly);
    Out.write(FormatChangesOfSize(State.range(0)));
    Out.close();
    TfrmHelp Help(BenchProgram());
    Help.show();
    for (auto _ : State) {
        Help.LoadDocument(File);
        LayOut(Help);
    }
}

BENCHMARK(BM_ReadRtfFormatChanges)->Arg(250 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowHelpFormatChanges)->Arg(250 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenHelpWindow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReopenHelpWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRtf)->Arg(10 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir Home;
    qputenv("XDG_CONFIG_HOME", (Home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (Home.path() + "/data").toLocal8Bit());
    QApplication App(argc, argv);
    if (FindAssets(QStringLiteral("Quorvantis_Help_DE.rtf")).isEmpty()) {
        fprintf(stderr, "The help documents are not found\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

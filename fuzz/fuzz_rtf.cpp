// libFuzzer target for the help window's RTF reader. Run from the fuzz build folder:
//   ./fuzz/fuzz_rtf -max_total_time=600 -jobs=1 ../fuzz/corpus_rtf
// Besides crashes, sanitizer reports and time-outs it checks that the document
// never holds more characters than the input had bytes.
#include "uRtfReader.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QTextDocument>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Fonts and text formats need a GUI application; no display is used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication App(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    QTextDocument Document;
    const QByteArray Input = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), qsizetype(Size));
    ReadRtf(Input, Document);
    // One block separator per paragraph plus the document's final one.
    if (Document.characterCount() > qsizetype(Size) + 2)
        std::abort();
    return 0;
}

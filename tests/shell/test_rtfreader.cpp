// The help window's RTF reader on documents written by a real word processor
// (LibreOffice, converted once), on our help documents and on the fuzz corpus.
#include "TestSupport.h"
#include "uRtfReader.h"

#include <QDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <gtest/gtest.h>

namespace {

// The format of the first fragment that holds Text.
QTextCharFormat FormatOf(const QTextDocument& Document, const QString& Text) {
    for (QTextBlock Block = Document.begin(); Block.isValid(); Block = Block.next())
        for (auto It = Block.begin(); !It.atEnd(); ++It)
            if (It.fragment().text().contains(Text))
                return It.fragment().charFormat();
    ADD_FAILURE() << "no fragment holds " << Text.toStdString();
    return {};
}

Qt::Alignment AlignmentOf(const QTextDocument& Document, const QString& Text) {
    for (QTextBlock Block = Document.begin(); Block.isValid(); Block = Block.next())
        if (Block.text().contains(Text))
            return Block.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
    ADD_FAILURE() << "no paragraph holds " << Text.toStdString();
    return {};
}

// The text with line separators and no-break spaces as they are, paragraphs ended by "\n".
QString RawText(const QTextDocument& Document) {
    return Document.toRawText().replace(QChar::ParagraphSeparator, u'\n');
}

QString PlainText(const QByteArray& Rtf) {
    QTextDocument Document;
    ReadRtf(Rtf, Document);
    return RawText(Document);
}

QString SourceFile(const QString& Relative) {
    return TestDataFile("../../" + Relative);
}

} // namespace

TEST(RtfReader, WordProcessorDocumentKeepsTextFormattingFontsColoursAndLinks) {
    QTextDocument Document;
    ASSERT_TRUE(ReadRtf(ReadFileBytes(TestDataFile("rtf/libreoffice-formatting.rtf")), Document));
    const QString Text = RawText(Document);
    EXPECT_TRUE(Text.startsWith("Überschrift: Größen und Schriften\n"));
    // windows-1252 bytes and \u characters with their fallbacks skipped, surrogate pairs joined.
    EXPECT_TRUE(Text.contains("Umlaute: äöüÄÖÜß, Euro €, Anführungszeichen „so“ und “so”, Gedankenstrich – und —."));
    EXPECT_TRUE(Text.contains("Griechisch αβγ, Kyrillisch жзи, CJK 漢字, Emoji 😀.\n"));
    EXPECT_TRUE(Text.contains("Zeile eins\u2028Zeile zwei nach Zeilenumbruch"));
    EXPECT_TRUE(Text.contains("•\tErster Punkt\n•\tZweiter Punkt mit fett\n 1.\tEins\n 2.\tZwei\n"));
    EXPECT_TRUE(Text.contains("Zelle A1\tZelle B1\t\nA2\tB2\t\n"));

    EXPECT_EQ(FormatOf(Document, "fett").fontWeight(), QFont::Bold);
    EXPECT_TRUE(FormatOf(Document, "kursiv").fontItalic());
    EXPECT_TRUE(FormatOf(Document, "unterstrichen").fontUnderline());
    EXPECT_FALSE(FormatOf(Document, "Ein normaler").fontUnderline());
    EXPECT_EQ(FormatOf(Document, "Zentrierter roter").foreground().color(), QColor("#c00000"));
    EXPECT_EQ(FormatOf(Document, "blaue Schreibmaschine").fontFamilies().toStringList(), QStringList{"Courier New"});
    EXPECT_DOUBLE_EQ(FormatOf(Document, "Groß rechts").fontPointSize(), 20.0);
    EXPECT_DOUBLE_EQ(FormatOf(Document, "klein").fontPointSize(), 8.0);
    EXPECT_DOUBLE_EQ(FormatOf(Document, "Ein normaler").fontPointSize(), 12.0);
    EXPECT_EQ(AlignmentOf(Document, "Zentrierter"), Qt::AlignHCenter);
    EXPECT_EQ(AlignmentOf(Document, "Groß rechts"), Qt::AlignRight);
    EXPECT_EQ(AlignmentOf(Document, "Ein normaler"), Qt::AlignLeft);
    EXPECT_EQ(FormatOf(Document, "Verweis").anchorHref(), "https://example.invalid/hilfe");

    // A picture's hex data and the style sheet never reach the text.
    const QString Picture = PlainText(ReadFileBytes(TestDataFile("rtf/libreoffice-picture.rtf")));
    EXPECT_EQ(Picture, "Vor dem Bild {geschweift} \\ Rückstrich.\n Nach dem Bild.\nFußnote folgt.\n");
    EXPECT_EQ(PlainText(ReadFileBytes(TestDataFile("rtf/libreoffice-letter.rtf"))),
              "Sehr geehrte Damen und Herren,\n\ndies ist ein schlichter Brief mit Umlauten (ä ö ü ß) "
              "und\tTabulator.\n\nMit freundlichen Grüßen\n");
}

TEST(RtfReader, HelpDocumentsOfBothLanguagesReadWithHeadingsListsAndVendorLink) {
    for (const auto& [File, Heading, Section] :
         {std::tuple{"resources/Quorvantis_Help_DE.rtf", u"Hilfe zu Quorvantis 2.2", u"Wo Ihre Dateien liegen"},
          std::tuple{"resources/Quorvantis_Help_EN.rtf", u"Quorvantis 2.2 help", u"Where your files are"}}) {
        SCOPED_TRACE(File);
        QTextDocument Document;
        ASSERT_TRUE(ReadRtf(ReadFileBytes(SourceFile(File)), Document));
        const QString Text = RawText(Document);
        EXPECT_TRUE(Text.startsWith(QString::fromUtf16(Heading) + "\n"));
        EXPECT_TRUE(Text.contains(QString::fromUtf16(Section) + "\n"));
        EXPECT_TRUE(Text.contains(QString::fromUtf16(u"\u2022\u00A0"))); // list bullets from the symbol font
        EXPECT_TRUE(Text.contains("~/.config/Quorvantis/"));             // where the settings live
        EXPECT_TRUE(Text.contains("quorvantis show"));
        EXPECT_FALSE(Text.contains('\\'));
        EXPECT_FALSE(Text.contains('{'));
        EXPECT_EQ(FormatOf(Document, QString::fromUtf16(Heading)).fontWeight(), QFont::Bold);
        EXPECT_EQ(FormatOf(Document, "www.quorvantis.com").anchorHref(), "http://www.quorvantis.com");
    }
    EXPECT_TRUE(PlainText(ReadFileBytes(SourceFile("resources/Quorvantis_Help_DE.rtf"))).contains("Menü zu öffnen"));
}

TEST(RtfReader, CharactersBreaksAndSkippedDestinations) {
    const struct {
        const char* Rtf;
        const char16_t* Expected;
    } Cases[] = {
        {R"({\rtf1 a\'e4\'80\'9f b})", u"aä€Ÿ b"},
        {R"({\rtf1 \u8364?x \uc2\u8364??y \uc0\u246 z \u-4064 k})", u"€x €y öz \uF020k"},
        {R"({\rtf1 \u-10179?\u-8704? | \u-10179?x | \u-8704?y})", u"😀 | \uFFFDx | \uFFFDy"},
        {R"({\rtf1 {\uc1\u246\'f6}next})", u"önext"}, // the fallback never reaches past the group
        {R"({\rtf1 one\par two\line three\tab four\~five\_six\-seven})",
         u"one\ntwo\u2028three\tfour\u00A0five\u2011sixseven"},
        {R"({\rtf1 \{braces\} and \\ backslash})", u"{braces} and \\ backslash"},
        {R"({\rtf1 a{\*\unknown hidden {nested}}b{\pict\pngblip 89504e47}c{\object{\*\objdata 01}}d})", u"abcd"},
        {R"({\rtf1 a\bin4 {}}}b})", u"ab"},
        {R"({\rtf1 {\info{\title T}}{\stylesheet{\s0 Normal;}}{\header H}text})", u"text"},
        {R"({\rtf1 a\bin99999999 {})", u"a"},
        {R"({\rtf1 unbalanced}}}} after} {{{{{ open)", u"unbalanced after  open"},
        {R"({\rtf1 \fs999999999999999999 big \verylongcontrolwordthatgoesonandonandonandon123456789012345 x})",
         u"big x"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Rtf);
        EXPECT_EQ(PlainText(Case.Rtf), QString::fromUtf16(Case.Expected));
    }
    // Not RTF at all: shown as text, reported as such.
    QTextDocument Document;
    EXPECT_FALSE(ReadRtf("just text, {not} rtf", Document));
    EXPECT_EQ(RawText(Document), "just text, {not} rtf");
}

TEST(RtfReader, FuzzCorpusAndPathologicalInputsStayBounded) {
    QList<QByteArray> Inputs;
    const QDir Corpus(SourceFile("fuzz/corpus_rtf"));
    for (const QString& Name : Corpus.entryList(QDir::Files))
        Inputs << ReadFileBytes(Corpus.filePath(Name));
    ASSERT_GE(Inputs.size(), 5);
    Inputs << "{\\rtf1 " + QByteArray(200000, '{') + "deep" + QByteArray(200000, '}');
    Inputs << "{\\rtf1 " + QByteArray(100000, '{') + "\\b never closed";
    Inputs << "{\\rtf1 " + QByteArray("\\u-1\\'").repeated(50000);
    Inputs << "{\\rtf1 " + QByteArray("\\par ").repeated(50000) + "}";
    Inputs << "{\\rtf1{\\fonttbl" + QByteArray("{\\f99999 X;}").repeated(20000) + "}x}";
    Inputs << QByteArray("{\\rtf1\\uc16\\u65", 15);
    for (const QByteArray& Input : Inputs) {
        QTextDocument Document;
        ReadRtf(Input, Document);
        // Never more characters than the input has bytes (+ the final paragraph mark).
        EXPECT_LE(Document.characterCount(), Input.size() + 2) << Input.left(80).toStdString();
    }
}

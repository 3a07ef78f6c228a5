#include "uRtfReader.h"

#include "uRtfControlWords.h"
#include "uWindows1252.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// Deeper nesting than this keeps the innermost stored state; real documents stay below 30.
constexpr int MaxDepth = 512;
constexpr int MaxWordLength = 32;
constexpr int MaxParamDigits = 10;
constexpr int MaxFieldInstruction = 2048;
constexpr int MaxFontName = 256;
constexpr int DefaultHalfPoints = 24;
constexpr int MaxHalfPoints = 3276;
constexpr int MaxTwips = 31680; // 22 inches
constexpr double TwipsPerPixel = 15.0;
constexpr size_t MaxCachedFormats = 32;
// Real paragraphs stay far below; longer ones are cut so that laying them out stays fast.
constexpr qsizetype MaxParagraphChars = 1000;
// How often the caller is asked whether to go on: a few milliseconds of reading.
constexpr qsizetype CheckpointBytes = 16 * 1024;

enum class TDest : uint8_t { Text, Skip, FontTable, ColorTable, FieldInst };

struct TCharState {
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strike = false;
    int8_t VAlign = 0; // 1 superscript, 2 subscript
    int Font = -1;
    int HalfPoints = DefaultHalfPoints;
    int Color = 0;
    int Background = 0;
    int Link = -1;
    bool operator==(const TCharState&) const = default;
};

struct TParaState {
    int8_t Align = 0; // 0 left, 1 centre, 2 right, 3 justify
    int Left = 0;
    int Right = 0;
    int First = 0;
    int Before = 0;
    int After = 0;
    bool operator==(const TParaState&) const = default;
};

struct TGroup {
    TCharState Char;
    TParaState Para;
    TDest Dest = TDest::Text;
    int UcSkip = 1;
};

struct TFont {
    QString Name;
    int Charset = 0;
};

int Clamp(long long Value, int Low, int High) {
    return static_cast<int>(std::clamp<long long>(Value, Low, High));
}

const std::array<char16_t, 256>& Windows1252Table() {
    static const std::array<char16_t, 256> Table = [] {
        std::array<char16_t, 256> T{};
        for (int I = 0; I < 256; ++I) {
            const QString S = FromWindows1252(QByteArray(1, static_cast<char>(I)));
            T[I] = S.isEmpty() ? u'?' : S.at(0).unicode();
        }
        return T;
    }();
    return Table;
}

class TRtfReader final {
public:
    TRtfReader(const QByteArray& Data, QTextDocument& Document)
        : FData(Data.constData()), FSize(Data.size()), FCursor(&Document) {
        FStack.reserve(64);
        FStack.push_back(TGroup{});
        FColors.push_back(QColor()); // index 0: automatic
    }

    void Run(const std::function<bool()>& KeepGoing) {
        FCursor.beginEditBlock(); // the document tells its layout once, at the end
        qsizetype Checkpoint = CheckpointBytes;
        while (FPos < FSize) {
            if (FPos >= Checkpoint) {
                Checkpoint = FPos + CheckpointBytes;
                if (KeepGoing && !KeepGoing())
                    break;
            }
            const char C = FData[FPos];
            if (C == '{') {
                ++FPos;
                OpenGroup();
            } else if (C == '}') {
                ++FPos;
                CloseGroup();
            } else if (C == '\\') {
                ++FPos;
                ControlSequence();
            } else if (C == '\r' || C == '\n') {
                ++FPos;
            } else {
                TextRun();
            }
        }
        FinishParagraph(false);
        FCursor.endEditBlock();
    }

private:
    TGroup& Top() { return FStack.back(); }

    void OpenGroup() {
        FSkipChars = 0;
        if (static_cast<int>(FStack.size()) >= MaxDepth) {
            ++FOverflow;
            return;
        }
        const TGroup Copy = Top();
        FStack.push_back(Copy);
    }

    void CloseGroup() {
        FSkipChars = 0;
        if (FOverflow > 0) {
            --FOverflow;
            return;
        }
        if (FStack.size() <= 1)
            return; // unbalanced "}": ignore
        const TDest Leaving = Top().Dest;
        FStack.pop_back();
        if (Leaving == TDest::FontTable && Top().Dest == TDest::FontTable)
            CommitFontName();
        if (Leaving == TDest::FieldInst && Top().Dest != TDest::FieldInst)
            FFieldDone = true;
    }

    void TextRun() {
        const TDest Dest = Top().Dest;
        const bool Symbol = IsSymbolFont();
        while (FPos < FSize) {
            const unsigned char C = static_cast<unsigned char>(FData[FPos]);
            if (C == '{' || C == '}' || C == '\\')
                return;
            ++FPos;
            if (C == '\r' || C == '\n')
                continue;
            if (FSkipChars > 0) {
                --FSkipChars;
                continue;
            }
            if (Dest == TDest::ColorTable) {
                if (C == ';')
                    CommitColor();
                continue;
            }
            if (Dest == TDest::FontTable) {
                if (C == ';')
                    CommitFontName();
                else if (FFontName.size() < MaxFontName)
                    FFontName += QChar(Windows1252Table()[C]);
                continue;
            }
            if (Dest == TDest::FieldInst) {
                if (FFieldInstruction.size() < MaxFieldInstruction)
                    FFieldInstruction += QChar(Windows1252Table()[C]);
                continue;
            }
            if (Dest == TDest::Skip)
                continue;
            if (C == '\t')
                AppendChar(u'\t');
            else if (C >= 0x20)
                AppendByte(C, Symbol);
        }
    }

    void ControlSequence() {
        if (FPos >= FSize)
            return;
        const char C = FData[FPos];
        if (!IsLetter(C)) {
            ++FPos;
            ControlSymbol(C);
            return;
        }
        char Word[MaxWordLength + 1];
        int Length = 0;
        while (FPos < FSize && IsLetter(FData[FPos])) {
            if (Length < MaxWordLength)
                Word[Length++] = FData[FPos];
            ++FPos;
        }
        Word[Length] = '\0';
        bool HasParam = false;
        long long Param = 0;
        bool Negative = false;
        if (FPos < FSize && FData[FPos] == '-' && FPos + 1 < FSize && IsDigit(FData[FPos + 1])) {
            Negative = true;
            ++FPos;
        }
        int Digits = 0;
        while (FPos < FSize && IsDigit(FData[FPos])) {
            if (Digits < MaxParamDigits)
                Param = Param * 10 + (FData[FPos] - '0');
            ++Digits;
            ++FPos;
        }
        HasParam = Digits > 0;
        if (Negative)
            Param = -Param;
        if (FPos < FSize && FData[FPos] == ' ')
            ++FPos;
        const bool Ignorable = FIgnorable;
        FIgnorable = false;

        const TRtfWord Kind = LookupRtfWord(std::string_view(Word, Length));
        if (Kind == TRtfWord::kBin) {
            // Raw bytes follow; they are never text and may hold braces.
            const long long Skip = HasParam && Param > 0 ? Param : 0;
            FPos += static_cast<qsizetype>(std::min<long long>(Skip, FSize - FPos));
            return;
        }
        if (FSkipChars > 0 && Top().Dest != TDest::Skip) {
            --FSkipChars;
            return;
        }
        if (Top().Dest == TDest::Skip)
            return;
        if (Destination(Kind, Ignorable))
            return;
        ControlWord(Kind, HasParam, Param);
    }

    // Returns true when Word was handled as a destination.
    bool Destination(TRtfWord Kind, bool Ignorable) {
        TGroup& G = Top();
        if (Kind == TRtfWord::kFonttbl) {
            G.Dest = TDest::FontTable;
            return true;
        }
        if (Kind == TRtfWord::kColortbl) {
            G.Dest = TDest::ColorTable;
            return true;
        }
        if (Kind == TRtfWord::kFldinst) {
            G.Dest = TDest::FieldInst;
            FFieldInstruction.clear();
            FFieldDone = false;
            return true;
        }
        if (Kind == TRtfWord::kFldrslt) {
            G.Dest = TDest::Text;
            G.Char.Link = LinkOfField();
            return true;
        }
        if (Kind == TRtfWord::kField) {
            FFieldInstruction.clear();
            FFieldDone = false;
            return true;
        }
        // "\*" marks a destination a reader may skip when it does not know it.
        if (Kind == TRtfWord::Skipped || Ignorable) {
            G.Dest = TDest::Skip;
            return true;
        }
        return false;
    }

    int LinkOfField() {
        if (!FFieldDone)
            return Top().Char.Link;
        const QString Instruction = FFieldInstruction.trimmed();
        FFieldInstruction.clear();
        FFieldDone = false;
        if (!Instruction.startsWith(QLatin1String("HYPERLINK"), Qt::CaseInsensitive))
            return Top().Char.Link;
        QString Target = Instruction.mid(9).trimmed();
        if (Target.startsWith(QLatin1Char('"'))) {
            const qsizetype End = Target.indexOf(QLatin1Char('"'), 1);
            Target = Target.mid(1, End < 0 ? -1 : End - 1);
        } else {
            Target = Target.section(QLatin1Char(' '), 0, 0);
        }
        if (Target.isEmpty())
            return Top().Char.Link;
        FLinks.push_back(Target);
        return static_cast<int>(FLinks.size()) - 1;
    }

    void ControlSymbol(char C) {
        switch (C) {
        case '*':
            FIgnorable = true;
            return;
        case '\'': {
            int Value = 0;
            int Read = 0;
            while (Read < 2 && FPos < FSize && HexValue(FData[FPos]) >= 0) {
                Value = Value * 16 + HexValue(FData[FPos]);
                ++FPos;
                ++Read;
            }
            if (Read == 0)
                return;
            if (FSkipChars > 0) {
                --FSkipChars;
                return;
            }
            const TDest Dest = Top().Dest;
            if (Dest == TDest::Text)
                AppendByte(static_cast<unsigned char>(Value), IsSymbolFont());
            else if (Dest == TDest::FontTable && FFontName.size() < MaxFontName)
                FFontName += QChar(Windows1252Table()[Value]);
            return;
        }
        case '\r':
        case '\n':
            if (Top().Dest == TDest::Text)
                FinishParagraph(true);
            return;
        default:
            break;
        }
        if (FSkipChars > 0) {
            --FSkipChars;
            return;
        }
        if (Top().Dest != TDest::Text)
            return;
        switch (C) {
        case '\\':
        case '{':
        case '}':
            AppendChar(static_cast<char16_t>(C));
            break;
        case '~':
            AppendChar(u'\u00A0');
            break;
        case '_':
            AppendChar(u'\u2011');
            break;
        case '-': // optional hyphen: not shown
        default:
            break;
        }
    }

    void ControlWord(TRtfWord Kind, bool HasParam, long long Param) {
        TGroup& G = Top();
        const bool On = !HasParam || Param != 0;
        const auto Is = [Kind](TRtfWord Word) { return Kind == Word; };

        if (G.Dest == TDest::FontTable) {
            if (Is(TRtfWord::kF)) {
                CommitFontName();
                FFontIndex = HasParam ? Clamp(Param, 0, INT_MAX) : 0;
            } else if (Is(TRtfWord::kFcharset)) {
                FFontCharset = Clamp(Param, 0, 255);
            }
            return;
        }
        if (G.Dest == TDest::ColorTable) {
            if (Is(TRtfWord::kRed))
                FRed = Clamp(Param, 0, 255);
            else if (Is(TRtfWord::kGreen))
                FGreen = Clamp(Param, 0, 255);
            else if (Is(TRtfWord::kBlue))
                FBlue = Clamp(Param, 0, 255);
            return;
        }
        if (G.Dest == TDest::FieldInst)
            return;

        // Document-wide settings.
        if (Is(TRtfWord::kDeff)) {
            FDefaultFont = Clamp(Param, 0, INT_MAX);
            G.Char.Font = FDefaultFont;
        } else if (Is(TRtfWord::kUc)) {
            G.UcSkip = Clamp(Param, 0, 16);
        } else if (Is(TRtfWord::kU)) {
            if (!HasParam)
                return;
            long long Code = Param;
            if (Code < 0)
                Code += 65536;
            AppendChar(static_cast<char16_t>(Clamp(Code, 0, 65535)));
            FSkipChars = G.UcSkip;
        }
        // Characters and breaks.
        else if (Is(TRtfWord::kPar) || Is(TRtfWord::kSect) || Is(TRtfWord::kPage) || Is(TRtfWord::kRow)) {
            FinishParagraph(true);
        } else if (Is(TRtfWord::kLine)) {
            AppendChar(u'\u2028');
        } else if (Is(TRtfWord::kTab) || Is(TRtfWord::kCell)) {
            AppendChar(u'\t');
        } else if (Is(TRtfWord::kEmdash)) {
            AppendChar(u'\u2014');
        } else if (Is(TRtfWord::kEndash)) {
            AppendChar(u'\u2013');
        } else if (Is(TRtfWord::kBullet)) {
            AppendChar(u'\u2022');
        } else if (Is(TRtfWord::kLquote)) {
            AppendChar(u'\u2018');
        } else if (Is(TRtfWord::kRquote)) {
            AppendChar(u'\u2019');
        } else if (Is(TRtfWord::kLdblquote)) {
            AppendChar(u'\u201C');
        } else if (Is(TRtfWord::kRdblquote)) {
            AppendChar(u'\u201D');
        } else if (Is(TRtfWord::kEmspace) || Is(TRtfWord::kEnspace) || Is(TRtfWord::kQmspace)) {
            AppendChar(u' ');
        }
        // Character formatting.
        else if (Is(TRtfWord::kPlain)) {
            const int Link = G.Char.Link;
            G.Char = TCharState{};
            G.Char.Font = FDefaultFont;
            G.Char.Link = Link; // a link field's result stays a link
        } else if (Is(TRtfWord::kB)) {
            G.Char.Bold = On;
        } else if (Is(TRtfWord::kI)) {
            G.Char.Italic = On;
        } else if (Is(TRtfWord::kStrike) || Is(TRtfWord::kStriked)) {
            G.Char.Strike = On;
        } else if (Is(TRtfWord::kUlnone)) {
            G.Char.Underline = false;
        } else if (Is(TRtfWord::kUl)) {
            G.Char.Underline = On; // \ul, \uld, \uldb, \ulw, ... all underline
        } else if (Is(TRtfWord::kSuper)) {
            G.Char.VAlign = 1;
        } else if (Is(TRtfWord::kSub)) {
            G.Char.VAlign = 2;
        } else if (Is(TRtfWord::kNosupersub)) {
            G.Char.VAlign = 0;
        } else if (Is(TRtfWord::kF)) {
            G.Char.Font = HasParam ? Clamp(Param, 0, INT_MAX) : FDefaultFont;
        } else if (Is(TRtfWord::kFs)) {
            G.Char.HalfPoints = HasParam && Param > 0 ? Clamp(Param, 1, MaxHalfPoints) : DefaultHalfPoints;
        } else if (Is(TRtfWord::kCf)) {
            G.Char.Color = Clamp(Param, 0, INT_MAX);
        } else if (Is(TRtfWord::kCb) || Is(TRtfWord::kHighlight) || Is(TRtfWord::kChcbpat)) {
            G.Char.Background = Clamp(Param, 0, INT_MAX);
        }
        // Paragraph formatting.
        else if (Is(TRtfWord::kPard)) {
            G.Para = TParaState{};
        } else if (Is(TRtfWord::kQl)) {
            G.Para.Align = 0;
        } else if (Is(TRtfWord::kQc)) {
            G.Para.Align = 1;
        } else if (Is(TRtfWord::kQr)) {
            G.Para.Align = 2;
        } else if (Is(TRtfWord::kQj)) {
            G.Para.Align = 3;
        } else if (Is(TRtfWord::kLi)) {
            G.Para.Left = Clamp(Param, -MaxTwips, MaxTwips);
        } else if (Is(TRtfWord::kRi)) {
            G.Para.Right = Clamp(Param, -MaxTwips, MaxTwips);
        } else if (Is(TRtfWord::kFi)) {
            G.Para.First = Clamp(Param, -MaxTwips, MaxTwips);
        } else if (Is(TRtfWord::kSb)) {
            G.Para.Before = Clamp(Param, 0, MaxTwips);
        } else if (Is(TRtfWord::kSa)) {
            G.Para.After = Clamp(Param, 0, MaxTwips);
        }
    }

    void CommitFontName() {
        FFormatCache.clear();
        QString Name = FFontName.trimmed();
        FFontName.clear();
        if (FFontIndex < 0)
            return;
        if (!Name.isEmpty() || !FFonts.contains(FFontIndex))
            FFonts.insert(FFontIndex, TFont{Name, FFontCharset});
        FFontIndex = -1;
        FFontCharset = 0;
    }

    void CommitColor() {
        FFormatCache.clear();
        // The first entry of the table is normally empty: "automatic".
        if (FColors.size() == 1 && !FColorSeen)
            FColorSeen = true;
        else
            FColors.push_back(QColor(FRed, FGreen, FBlue));
        FRed = FGreen = FBlue = 0;
    }

    bool IsSymbolFont() const {
        const auto Font = FFonts.constFind(FStack.back().Char.Font);
        return Font != FFonts.cend() && Font->Charset == 2;
    }

    // A byte of text in the code page of the current font.
    void AppendByte(unsigned char Byte, bool Symbol) {
        if (Symbol) {
            // Symbol fonts: the bullets that list labels use.
            if (Byte == 0xB7) {
                AppendChar(u'\u2022');
                return;
            }
            if (Byte == 0xA7) {
                AppendChar(u'\u25AA');
                return;
            }
        }
        AppendChar(Windows1252Table()[Byte]);
    }

    void AppendChar(char16_t C) {
        if (Top().Dest != TDest::Text)
            return;
        if (!(Top().Char == FPendingFormat)) {
            Flush();
            FPendingFormat = Top().Char;
        }
        // Surrogates must come in pairs; anything else becomes a replacement character.
        if (FHighSurrogate != 0) {
            if (QChar::isLowSurrogate(C)) {
                FPending += QChar(FHighSurrogate);
                FPending += QChar(C);
                FHighSurrogate = 0;
                return;
            }
            FPending += QChar(QChar::ReplacementCharacter);
            FHighSurrogate = 0;
        }
        if (QChar::isHighSurrogate(C)) {
            FHighSurrogate = C;
            return;
        }
        if (QChar::isLowSurrogate(C) || C == 0) {
            FPending += QChar(QChar::ReplacementCharacter);
            return;
        }
        FPending += QChar(C);
        // Laying a paragraph out costs more than linear time in its format changes:
        // an endless one is cut, at a blank where there is one.
        if (++FBlockChars >= MaxParagraphChars && (C == u' ' || FBlockChars >= MaxParagraphChars + 64))
            FinishParagraph(true);
    }

    void Flush() {
        if (FHighSurrogate != 0) {
            FPending += QChar(QChar::ReplacementCharacter);
            FHighSurrogate = 0;
        }
        if (FPending.isEmpty())
            return;
        FCursor.insertText(FPending, CachedCharFormat(FPendingFormat));
        FPending.clear();
    }

    void FinishParagraph(bool StartNext) {
        Flush();
        // A new block starts with the format of the one before it, which is usually right.
        if (!(Top().Para == FBlockPara)) {
            FBlockPara = Top().Para;
            FCursor.setBlockFormat(BlockFormat(FBlockPara));
        }
        if (StartNext)
            FCursor.insertBlock();
        FBlockChars = 0;
    }

    // Documents use a handful of formats over and over; building one costs more than the text.
    const QTextCharFormat& CachedCharFormat(const TCharState& S) {
        for (const auto& [State, Format] : FFormatCache)
            if (State == S)
                return Format;
        if (FFormatCache.size() >= MaxCachedFormats)
            FFormatCache.clear();
        FFormatCache.emplace_back(S, CharFormat(S));
        return FFormatCache.back().second;
    }

    QTextCharFormat CharFormat(const TCharState& S) const {
        QTextCharFormat Format;
        Format.setFontWeight(S.Bold ? QFont::Bold : QFont::Normal);
        Format.setFontItalic(S.Italic);
        Format.setFontUnderline(S.Underline);
        Format.setFontStrikeOut(S.Strike);
        Format.setFontPointSize(S.HalfPoints / 2.0);
        if (S.VAlign == 1)
            Format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
        else if (S.VAlign == 2)
            Format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
        const auto Font = FFonts.constFind(S.Font);
        // Symbol-font characters are mapped to Unicode, so they need a Unicode font, not the symbol one.
        if (Font != FFonts.cend() && !Font->Name.isEmpty() && Font->Charset != 2)
            Format.setFontFamilies(QStringList{Font->Name});
        if (S.Color > 0 && S.Color < FColors.size())
            Format.setForeground(FColors.at(S.Color));
        if (S.Background > 0 && S.Background < FColors.size())
            Format.setBackground(FColors.at(S.Background));
        if (S.Link >= 0 && S.Link < static_cast<int>(FLinks.size())) {
            Format.setAnchor(true);
            Format.setAnchorHref(FLinks.at(S.Link));
        }
        return Format;
    }

    static QTextBlockFormat BlockFormat(const TParaState& P) {
        QTextBlockFormat Format;
        static constexpr Qt::Alignment Aligns[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight, Qt::AlignJustify};
        Format.setAlignment(Aligns[P.Align]);
        Format.setLeftMargin(std::max(0, P.Left) / TwipsPerPixel);
        Format.setRightMargin(std::max(0, P.Right) / TwipsPerPixel);
        Format.setTextIndent(P.First / TwipsPerPixel);
        Format.setTopMargin(P.Before / TwipsPerPixel);
        Format.setBottomMargin(P.After / TwipsPerPixel);
        return Format;
    }

    static bool IsLetter(char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); }
    static bool IsDigit(char C) { return C >= '0' && C <= '9'; }
    static int HexValue(char C) {
        if (C >= '0' && C <= '9')
            return C - '0';
        if (C >= 'a' && C <= 'f')
            return C - 'a' + 10;
        if (C >= 'A' && C <= 'F')
            return C - 'A' + 10;
        return -1;
    }

    const char* FData;
    qsizetype FSize;
    qsizetype FPos = 0;
    QTextCursor FCursor;
    std::vector<TGroup> FStack;
    int FOverflow = 0;
    bool FIgnorable = false;
    int FSkipChars = 0;
    char16_t FHighSurrogate = 0;

    QString FPending;
    qsizetype FBlockChars = 0; // characters in the current paragraph
    TCharState FPendingFormat;
    TParaState FBlockPara; // the format of the current block
    std::vector<std::pair<TCharState, QTextCharFormat>> FFormatCache;

    QHash<int, TFont> FFonts;
    QString FFontName;
    int FFontIndex = -1;
    int FFontCharset = 0;
    int FDefaultFont = -1;

    QList<QColor> FColors;
    bool FColorSeen = false;
    int FRed = 0;
    int FGreen = 0;
    int FBlue = 0;

    QString FFieldInstruction;
    bool FFieldDone = false;
    std::vector<QString> FLinks;
};

} // namespace

bool ReadRtf(const QByteArray& Data, QTextDocument& Document, const std::function<bool()>& KeepGoing) {
    const bool UndoWasOn = Document.isUndoRedoEnabled();
    Document.setUndoRedoEnabled(false); // a reader has nothing to undo, and undo data would double the memory
    Document.clear();
    bool IsRtf = Data.startsWith("{\\rtf");
    if (IsRtf) {
        TRtfReader Reader(Data, Document);
        Reader.Run(KeepGoing);
    } else {
        Document.setPlainText(QString::fromUtf8(Data));
    }
    Document.setUndoRedoEnabled(UndoWasOn);
    return IsRtf;
}

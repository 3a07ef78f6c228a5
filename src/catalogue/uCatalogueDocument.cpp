#include "uCatalogueDocument.h"

#include "uErrors.h"
#include "uWindows1252.h"

#include <cstring>
#include <optional>
#include <string_view>

namespace {
enum class TDocEncoding { Utf8, Latin1, Windows1252 };

bool StartsWith(const QByteArray& Bytes, std::initializer_list<unsigned char> Prefix) {
    if (Bytes.size() < qsizetype(Prefix.size()))
        return false;
    qsizetype I = 0;
    for (const unsigned char B : Prefix)
        if (static_cast<unsigned char>(Bytes[I++]) != B)
            return false;
    return true;
}

// UTF-16 and UTF-32, with or without byte-order mark: pugixml recognises these itself.
bool IsWideEncoding(const QByteArray& B) {
    return StartsWith(B, {0xFE, 0xFF}) || StartsWith(B, {0xFF, 0xFE}) || StartsWith(B, {0x00, 0x00, 0xFE, 0xFF}) ||
           StartsWith(B, {0x00, 0x3C, 0x00, 0x3F}) || StartsWith(B, {0x3C, 0x00, 0x3F, 0x00}) ||
           StartsWith(B, {0x00, 0x00, 0x00, 0x3C}) || StartsWith(B, {0x3C, 0x00, 0x00, 0x00}) ||
           StartsWith(B, {0x00, 0x3C, 0x00}) || StartsWith(B, {0x3C, 0x00});
}

bool IsXmlSpace(char C) {
    return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

// The value of encoding="..." in an XML declaration at the very start, if any.
std::optional<std::string_view> DeclaredEncoding(std::string_view Text) {
    if (Text.size() < 6 || Text.substr(0, 5) != "<?xml" || !IsXmlSpace(Text[5]))
        return std::nullopt;
    const size_t End = Text.find("?>");
    if (End == std::string_view::npos)
        return std::nullopt; // the parser reports the broken declaration
    const std::string_view Decl = Text.substr(5, End - 5);
    size_t Pos = 0;
    while ((Pos = Decl.find("encoding", Pos)) != std::string_view::npos) {
        if (!IsXmlSpace(Decl[Pos - 1])) {
            Pos += 8;
            continue;
        }
        size_t I = Pos + 8;
        while (I < Decl.size() && IsXmlSpace(Decl[I]))
            ++I;
        if (I >= Decl.size() || Decl[I] != '=')
            return std::nullopt;
        ++I;
        while (I < Decl.size() && IsXmlSpace(Decl[I]))
            ++I;
        if (I >= Decl.size() || (Decl[I] != '"' && Decl[I] != '\''))
            return std::nullopt;
        const char Quote = Decl[I++];
        const size_t Close = Decl.find(Quote, I);
        if (Close == std::string_view::npos)
            return std::nullopt;
        return Decl.substr(I, Close - I);
    }
    return std::nullopt;
}

TDocEncoding EncodingByName(std::string_view Name) {
    const QByteArray Lower = QByteArray(Name.data(), qsizetype(Name.size())).toLower();
    if (Lower == "utf-8" || Lower == "utf8" || Lower == "us-ascii" || Lower == "ascii")
        return TDocEncoding::Utf8;
    if (Lower == "iso-8859-1" || Lower == "iso8859-1" || Lower == "iso_8859-1" || Lower == "latin1" ||
        Lower == "latin-1" || Lower == "l1")
        return TDocEncoding::Latin1;
    if (Lower == "windows-1252" || Lower == "cp1252" || Lower == "x-cp1252")
        return TDocEncoding::Windows1252;
    throw EQuorvantis(QStringLiteral("Unsupported document encoding \"%1\"").arg(QString::fromLatin1(Lower)));
}

void Parse(pugi::xml_document& Doc, const void* Data, size_t Size, pugi::xml_encoding Encoding) {
    const pugi::xml_parse_result Result = Doc.load_buffer(Data, Size, CatalogueParseOptions, Encoding);
    if (!Result)
        throw EQuorvantis(QStringLiteral("%1 at offset %2")
                              .arg(QString::fromUtf8(Result.description()))
                              .arg(qlonglong(Result.offset)));
}
} // namespace

bool IsValidUtf8(const char* Data, size_t Size, size_t* ErrorOffset) {
    const auto* P = reinterpret_cast<const unsigned char*>(Data);
    size_t I = 0;
    while (I < Size) {
        // ASCII runs 32 bytes at a time.
        if (I + 32 <= Size) {
            uint64_t W[4];
            std::memcpy(W, P + I, 32);
            if (((W[0] | W[1] | W[2] | W[3]) & 0x8080808080808080ULL) == 0) {
                I += 32;
                continue;
            }
        }
        const unsigned char C = P[I];
        if (C < 0x80) {
            ++I;
            continue;
        }
        size_t Len;
        uint32_t Min;
        uint32_t CodePoint;
        if ((C & 0xE0) == 0xC0) {
            Len = 2, Min = 0x80, CodePoint = C & 0x1F;
        } else if ((C & 0xF0) == 0xE0) {
            Len = 3, Min = 0x800, CodePoint = C & 0x0F;
        } else if ((C & 0xF8) == 0xF0) {
            Len = 4, Min = 0x10000, CodePoint = C & 0x07;
        } else {
            break;
        }
        if (I + Len > Size)
            break;
        bool Ok = true;
        for (size_t K = 1; K < Len; ++K) {
            if ((P[I + K] & 0xC0) != 0x80) {
                Ok = false;
                break;
            }
            CodePoint = (CodePoint << 6) | (P[I + K] & 0x3F);
        }
        if (!Ok || CodePoint < Min || CodePoint > 0x10FFFF || (CodePoint >= 0xD800 && CodePoint <= 0xDFFF))
            break;
        I += Len;
    }
    if (I < Size && ErrorOffset)
        *ErrorOffset = I;
    return I >= Size;
}

void ParseCatalogueDocument(const QByteArray& Bytes, pugi::xml_document& Doc) {
    if (IsWideEncoding(Bytes)) {
        Parse(Doc, Bytes.constData(), size_t(Bytes.size()), pugi::encoding_auto);
        return;
    }
    const char* Data = Bytes.constData();
    size_t Size = size_t(Bytes.size());
    // A UTF-8 byte-order mark decides over any declaration.
    TDocEncoding Encoding = TDocEncoding::Utf8;
    if (StartsWith(Bytes, {0xEF, 0xBB, 0xBF})) {
        Data += 3;
        Size -= 3;
    } else if (const auto Declared = DeclaredEncoding(std::string_view(Data, Size))) {
        Encoding = EncodingByName(*Declared);
    }
    switch (Encoding) {
    case TDocEncoding::Latin1:
        Parse(Doc, Data, Size, pugi::encoding_latin1);
        return;
    case TDocEncoding::Windows1252: {
        const QByteArray Utf8 = Windows1252ToUtf8(Data, qsizetype(Size));
        Parse(Doc, Utf8.constData(), size_t(Utf8.size()), pugi::encoding_utf8);
        return;
    }
    case TDocEncoding::Utf8:
        break;
    }
    size_t BadOffset = 0;
    if (!IsValidUtf8(Data, Size, &BadOffset))
        throw EQuorvantis(QStringLiteral("Invalid UTF-8 byte sequence at offset %1")
                              .arg(qlonglong(BadOffset + size_t(Data - Bytes.constData()))));
    Parse(Doc, Data, Size, pugi::encoding_utf8);
}

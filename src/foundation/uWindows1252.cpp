#include "uWindows1252.h"

#include <QList>

#include <array>

namespace {
// Code points of the bytes 0x80..0xFF; 0xA0..0xFF equal their byte value.
constexpr std::array<char16_t, 32> High80To9F = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::array<char16_t, 128> BuildTable() {
    std::array<char16_t, 128> Table{};
    for (int I = 0; I < 32; ++I)
        Table[I] = High80To9F[I];
    for (int I = 32; I < 128; ++I)
        Table[I] = char16_t(0x80 + I);
    return Table;
}
constexpr std::array<char16_t, 128> HighTable = BuildTable();

char ByteOf(char32_t CodePoint) {
    if (CodePoint < 0x80 || (CodePoint >= 0xA0 && CodePoint <= 0xFF))
        return char(CodePoint);
    for (int I = 0; I < 32; ++I)
        if (High80To9F[I] == CodePoint)
            return char(0x80 + I);
    return '?';
}
} // namespace

QByteArray ToWindows1252(const QString& Text) {
    QByteArray Bytes;
    Bytes.reserve(Text.size());
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const QChar C = Text.at(I);
        if (C.isHighSurrogate() && I + 1 < Text.size() && Text.at(I + 1).isLowSurrogate()) {
            ++I; // one character outside the code page: one "?"
            Bytes.append('?');
            continue;
        }
        Bytes.append(ByteOf(C.unicode()));
    }
    return Bytes;
}

QString FromWindows1252(const QByteArray& Bytes) {
    QString Text(Bytes.size(), Qt::Uninitialized);
    QChar* Out = Text.data();
    for (const char B : Bytes) {
        const auto U = static_cast<unsigned char>(B);
        *Out++ = QChar(U < 0x80 ? char16_t(U) : HighTable[U - 0x80]);
    }
    return Text;
}

QByteArray Windows1252ToUtf8(const char* Data, qsizetype Size) {
    QByteArray Out;
    Out.reserve(Size + Size / 8);
    for (qsizetype I = 0; I < Size; ++I) {
        const auto U = static_cast<unsigned char>(Data[I]);
        if (U < 0x80) {
            Out.append(char(U));
            continue;
        }
        const char16_t C = HighTable[U - 0x80];
        if (C < 0x800) {
            Out.append(char(0xC0 | (C >> 6)));
            Out.append(char(0x80 | (C & 0x3F)));
        } else {
            Out.append(char(0xE0 | (C >> 12)));
            Out.append(char(0x80 | ((C >> 6) & 0x3F)));
            Out.append(char(0x80 | (C & 0x3F)));
        }
    }
    return Out;
}

QString CharactersOutsideWindows1252(const QString& Text) {
    QString Result;
    const QList<uint> CodePoints = Text.toUcs4();
    for (const uint CodePoint : CodePoints) {
        const QString Character = QString::fromUcs4(reinterpret_cast<const char32_t*>(&CodePoint), 1);
        if (CodePoint == '?' || Result.contains(Character))
            continue;
        if (ToWindows1252(Character) == "?")
            Result += Character;
    }
    return Result;
}

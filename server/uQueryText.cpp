#include "uQueryText.h"

#include <cstdint>

namespace {

int HexValue(char C) {
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    return -1;
}

// Code points of the bytes 0x80..0x9F; the rest of windows-1252 equals ISO-8859-1.
constexpr char16_t HighTable[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& Out, char16_t Code) {
    if (Code < 0x80) {
        Out += char(Code);
    } else if (Code < 0x800) {
        Out += char(0xC0 | (Code >> 6));
        Out += char(0x80 | (Code & 0x3F));
    } else {
        Out += char(0xE0 | (Code >> 12));
        Out += char(0x80 | ((Code >> 6) & 0x3F));
        Out += char(0x80 | (Code & 0x3F));
    }
}

} // namespace

std::string PercentDecode(const std::string& Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        if (Text[I] == '%' && I + 2 < Text.size() && HexValue(Text[I + 1]) >= 0 && HexValue(Text[I + 2]) >= 0) {
            Out += char(HexValue(Text[I + 1]) * 16 + HexValue(Text[I + 2]));
            I += 2;
        } else {
            Out += Text[I];
        }
    }
    return Out;
}

std::string Windows1252ToUtf8(const std::string& Bytes) {
    std::string Out;
    Out.reserve(Bytes.size() + Bytes.size() / 4);
    for (const char C : Bytes) {
        const auto Byte = static_cast<uint8_t>(C);
        if (Byte >= 0x80 && Byte < 0xA0)
            AppendUtf8(Out, HighTable[Byte - 0x80]);
        else
            AppendUtf8(Out, char16_t(Byte));
    }
    return Out;
}

std::vector<std::pair<std::string, std::string>> DecodeQuery(const std::string& RawQuery) {
    std::vector<std::pair<std::string, std::string>> Pairs;
    size_t Start = 0;
    while (Start <= RawQuery.size()) {
        size_t End = RawQuery.find('&', Start);
        if (End == std::string::npos)
            End = RawQuery.size();
        const std::string Part = RawQuery.substr(Start, End - Start);
        if (!Part.empty()) {
            const size_t Eq = Part.find('=');
            const std::string Key = Eq == std::string::npos ? Part : Part.substr(0, Eq);
            const std::string Value = Eq == std::string::npos ? std::string() : Part.substr(Eq + 1);
            Pairs.emplace_back(Windows1252ToUtf8(PercentDecode(Key)), Windows1252ToUtf8(PercentDecode(Value)));
        }
        Start = End + 1;
    }
    return Pairs;
}

std::string HtmlEscape(const std::string& Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (const char C : Text) {
        switch (C) {
        case '&':
            Out += "&amp;";
            break;
        case '<':
            Out += "&lt;";
            break;
        case '>':
            Out += "&gt;";
            break;
        case '"':
            Out += "&quot;";
            break;
        case '\'':
            Out += "&#39;";
            break;
        default:
            Out += C;
        }
    }
    return Out;
}

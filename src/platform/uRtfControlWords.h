#pragma once

#include <cstdint>
#include <string_view>

// The RTF control words the reader acts on.
// Destinations whose content is never shown are listed in LookupRtfWord.
enum class TRtfWord : uint8_t {
    Unknown,
    Skipped, // a destination whose content is never shown
    kBin,
    kFonttbl,
    kColortbl,
    kFldinst,
    kFldrslt,
    kField,
    kF,
    kFcharset,
    kRed,
    kGreen,
    kBlue,
    kDeff,
    kUc,
    kU,
    kPar,
    kSect,
    kPage,
    kRow,
    kLine,
    kTab,
    kCell,
    kEmdash,
    kEndash,
    kBullet,
    kLquote,
    kRquote,
    kLdblquote,
    kRdblquote,
    kEmspace,
    kEnspace,
    kQmspace,
    kPlain,
    kB,
    kI,
    kStrike,
    kStriked,
    kUl,
    kUlnone,
    kUlc,
    kSuper,
    kSub,
    kNosupersub,
    kFs,
    kCf,
    kCb,
    kHighlight,
    kChcbpat,
    kPard,
    kQl,
    kQc,
    kQr,
    kQj,
    kLi,
    kRi,
    kFi,
    kSb,
    kSa,
};

// The meaning of a control word (without its backslash and parameter); words the
// reader does not act on are Unknown, destinations never shown are Skipped.
TRtfWord LookupRtfWord(std::string_view Word);

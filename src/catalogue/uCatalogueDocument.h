#pragma once

#include <QByteArray>
#include <pugixml.hpp>

// Comments, processing instructions and CDATA become nodes of their own and
// whitespace-only text is dropped, so "exactly one text child" means what the
// catalogue format says. DTD entities are never expanded or fetched.
inline constexpr unsigned int CatalogueParseOptions = pugi::parse_cdata | pugi::parse_escapes |
                                                      pugi::parse_wconv_attribute | pugi::parse_eol |
                                                      pugi::parse_comments | pugi::parse_pi;

// Parses a catalogue document into Doc, honouring its byte-order mark or declared
// encoding: UTF-8, UTF-16/32, ISO-8859-1 and windows-1252. Any other declared
// encoding, bytes that are not valid in the encoding, and every parser error throw
// EQuorvantis with a message naming the problem and its byte offset.
void ParseCatalogueDocument(const QByteArray& Bytes, pugi::xml_document& Doc);

// Whether Size bytes at Data are well-formed UTF-8; ErrorOffset gets the first bad byte.
bool IsValidUtf8(const char* Data, size_t Size, size_t* ErrorOffset = nullptr);

#pragma once

#include <string>
#include <utility>
#include <vector>

// Query handling of the vendor server. The program sends its free-text values as
// percent-encoded windows-1252 bytes, so "%FC" means "ü" and "%80" means "€".

// %XX sequences to bytes; a malformed "%" stays as it is. "+" stays "+": the program
// encodes blanks as %20, and an unencoded e-mail address may hold a real plus sign.
std::string PercentDecode(const std::string& Text);
// windows-1252 bytes to UTF-8; the five unassigned bytes become the C1 control of the same value.
std::string Windows1252ToUtf8(const std::string& Bytes);
// "a=1&b=%FC" to decoded UTF-8 pairs in order; a key without "=" gets an empty value.
std::vector<std::pair<std::string, std::string>> DecodeQuery(const std::string& RawQuery);
std::string HtmlEscape(const std::string& Text);

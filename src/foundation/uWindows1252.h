#pragma once

#include <QByteArray>
#include <QString>

// The Western code page of the vendor's world: query values go to its server as
// windows-1252 bytes, catalogue documents may be declared in it, and the help
// documents' RTF escapes (\'xx) name its bytes.

// The windows-1252 bytes of Text; a character the code page cannot hold becomes "?".
QByteArray ToWindows1252(const QString& Text);
QString FromWindows1252(const QByteArray& Bytes);
// The distinct characters of Text that the code page cannot hold, in the order of
// their first appearance (empty when ToWindows1252 would keep every character).
QString CharactersOutsideWindows1252(const QString& Text);
// Transcodes windows-1252 bytes to UTF-8 (the five unassigned bytes map to the
// C1 control of the same value, as the Windows converter does).
QByteArray Windows1252ToUtf8(const char* Data, qsizetype Size);

#pragma once

#include <QByteArray>
#include <QString>

// The vendor server's code page. Query values go on the wire as windows-1252
// bytes, and catalogue documents may be declared in it.

// The windows-1252 bytes of Text; a character the code page cannot hold becomes "?".
QByteArray ToWindows1252(const QString& Text);
QString FromWindows1252(const QByteArray& Bytes);
// The distinct characters of Text that the code page cannot hold, in the order of
// their first appearance (empty when ToWindows1252 would keep every character).
QString CharactersOutsideWindows1252(const QString& Text);
// Transcodes windows-1252 bytes to UTF-8 (the five unassigned bytes map to the
// C1 control of the same value, as the Windows converter does).
QByteArray Windows1252ToUtf8(const char* Data, qsizetype Size);

#pragma once

#include <QByteArray>

#include <functional>

class QTextDocument;

// Our own small RTF reader for the help documents. It understands groups,
// paragraphs and line breaks, bold/italic/underline/strike-through, the font
// table with sizes, the colour table, paragraph alignment and indents,
// "\'hh" characters in the document's code page (windows-1252), "\uN" with its
// fallback skip, hyperlink fields, and list and table text as plain paragraphs.
// Unknown destinations ("\*"), pictures and objects are skipped.
//
// It never crashes, hangs or grows without bound: the work and the output are
// linear in the input, nesting deeper than a fixed limit keeps the innermost
// formatting it could store, and "\bin" never reads past the end.
//
// Replaces the content of Document. Input that does not begin like RTF ("{\rtf")
// is shown as plain UTF-8 text; the result is then false.
//
// Give it a document that no view shows yet: a laid-out document lays the growing
// paragraph out again at every format change, which makes reading quadratic.
// KeepGoing, when set, is asked every few kilobytes; false stops reading, and the
// document keeps what was read so far.
bool ReadRtf(const QByteArray& Data, QTextDocument& Document, const std::function<bool()>& KeepGoing = {});

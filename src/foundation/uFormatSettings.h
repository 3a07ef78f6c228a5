#pragma once

#include <QDate>
#include <QString>

// The process-wide short date format (Qt date format syntax). It starts as the
// user's locale short date format; the catalogue switches it to "yyyy-MM-dd"
// the first time it compares dates. Thread-safe.
QString ShortDateFormat();
void SetShortDateFormat(const QString& Format);
QString FormatShortDate(const QDate& Date);

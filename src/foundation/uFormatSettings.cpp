#include "uFormatSettings.h"

#include <QLocale>
#include <QMutex>

namespace {
QMutex FormatLock;
QString& Format() {
    static QString F = QLocale::system().dateFormat(QLocale::ShortFormat);
    return F;
}
} // namespace

QString ShortDateFormat() {
    QMutexLocker L(&FormatLock);
    return Format();
}

void SetShortDateFormat(const QString& NewFormat) {
    QMutexLocker L(&FormatLock);
    Format() = NewFormat;
}

QString FormatShortDate(const QDate& Date) {
    return Date.toString(ShortDateFormat());
}

#pragma once

#include <QString>
#include <stdexcept>

// Base of every exception the program raises itself. Lower layers throw,
// user-level operations catch and log "Operation: " + message.
class EQuorvantis : public std::runtime_error {
public:
    explicit EQuorvantis(const QString& Message) : std::runtime_error(Message.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// Settings store failures: failed writes, damaged values, wrong value types.
class ESettingsError : public EQuorvantis {
public:
    using EQuorvantis::EQuorvantis;
};

// Any exception turned into the text that goes after "Operation: " in the log.
inline QString ExceptionMessage(const std::exception& E) {
    return QString::fromUtf8(E.what());
}

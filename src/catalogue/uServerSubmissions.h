#pragma once

#include <QString>
#include <QStringList>

// Addresses of the three submissions. Free-text values are percent-encoded with
// URLEncode; so are the e-mail address and the check value, because an "&" or a
// "#" in them would otherwise cut the query apart.
QString GewinnspielURL(int Ref, const QString& Email, const QString& Prename, const QString& Name,
                       const QString& Street, const QString& PLZ, const QString& City, const QString& Country,
                       const QString& Check);
QString NewsletterURL(int Ref, const QString& Email, bool Order, const QString& Check);
QString FeedbackURL(int Ref, const QString& Email, const QString& Subject, const QString& Feedback,
                    const QString& Check);

// The characters of the values that the server's code page cannot carry, each
// quoted, separated by ", " (empty when all can be sent). Sending them would
// turn them into "?" behind the user's back.
QString UnsendableCharacters(const QStringList& Values);

#include "uServerSubmissions.h"

#include "uConst.h"
#include "uServerPaths.h"
#include "uTUpdateVersion.h"
#include "uTools.h"
#include "uWindows1252.h"

namespace {
QString Ref(int Value) {
    return QString::number(Value);
}
} // namespace

QString GewinnspielURL(int RefValue, const QString& Email, const QString& Prename, const QString& Name,
                       const QString& Street, const QString& PLZ, const QString& City, const QString& Country,
                       const QString& Check) {
    return BuildServerURL(TServerPath::GewinnspielSubmit, {{"ref", Ref(RefValue)},
                                                           {"email", URLEncode(Email)},
                                                           {"prename", URLEncode(Prename)},
                                                           {"name", URLEncode(Name)},
                                                           {"street", URLEncode(Street)},
                                                           {"plz", URLEncode(PLZ)},
                                                           {"city", URLEncode(City)},
                                                           {"country", URLEncode(Country)},
                                                           {"check", URLEncode(Check)},
                                                           {"version", ProgramVersion}});
}

QString NewsletterURL(int RefValue, const QString& Email, bool Order, const QString& Check) {
    return BuildServerURL(TServerPath::NewsletterSubmit, {{"ref", Ref(RefValue)},
                                                          {"email", URLEncode(Email)},
                                                          {"newsletter", QString::number(BoolToInt(Order))},
                                                          {"check", URLEncode(Check)},
                                                          {"version", ProgramVersion}});
}

QString FeedbackURL(int RefValue, const QString& Email, const QString& Subject, const QString& Feedback,
                    const QString& Check) {
    return BuildServerURL(TServerPath::FeedbackSubmit, {{"ref", Ref(RefValue)},
                                                        {"email", URLEncode(Email)},
                                                        {"subject", URLEncode(Subject)},
                                                        {"feedback", URLEncode(Feedback)},
                                                        {"check", URLEncode(Check)},
                                                        {"version", ProgramVersion}});
}

QString UnsendableCharacters(const QStringList& Values) {
    const QString Characters = CharactersOutsideWindows1252(Values.join(QChar()));
    QStringList Quoted;
    const QList<uint> CodePoints = Characters.toUcs4();
    for (const uint CodePoint : CodePoints)
        Quoted << QChar(0x201E) + QString::fromUcs4(reinterpret_cast<const char32_t*>(&CodePoint), 1) + QChar(0x201C);
    return Quoted.join(QStringLiteral(", "));
}

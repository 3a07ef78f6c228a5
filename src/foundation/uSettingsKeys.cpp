#include "uSettingsKeys.h"

#include "uRegistry.h"

QString ReadSetting(const TSettingString& S) {
    return ReadSettingString(QString(), S.Name, S.Default);
}
int ReadSetting(const TSettingInteger& S) {
    return ReadSettingInteger(QString(), S.Name, S.Default);
}
bool ReadSetting(const TSettingBool& S) {
    return ReadSettingBool(QString(), S.Name, S.Default);
}
void WriteSetting(const TSettingString& S, const QString& Value) {
    WriteSettingString(QString(), S.Name, Value);
}
void WriteSetting(const TSettingInteger& S, int Value) {
    WriteSettingInteger(QString(), S.Name, Value);
}
void WriteSetting(const TSettingBool& S, bool Value) {
    WriteSettingBool(QString(), S.Name, Value);
}

QString GetServerBaseURL() {
    QString Base = ReadSetting(Setting::Server).trimmed();
    if (Base.isEmpty())
        Base = QStringLiteral(QUORVANTIS_VENDOR_URL);
    while (Base.endsWith(QLatin1Char('/')))
        Base.chop(1);
    return Base;
}

QString CategoryKey(const QString& Category) {
    if (Category.isEmpty())
        return QLatin1String(CategoriesKey);
    return QLatin1String(CategoriesKey) + QLatin1Char('\\') + Category;
}

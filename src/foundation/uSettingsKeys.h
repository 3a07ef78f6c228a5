#pragma once

#include <QString>

// Every value of the program key with its name and default, in one place.
struct TSettingString {
    const char* Name;
    const char* Default;
};
struct TSettingInteger {
    const char* Name;
    int Default;
};
struct TSettingBool {
    const char* Name;
    bool Default;
};

namespace Setting {
inline constexpr TSettingString Version{"version", ""};
inline constexpr TSettingString Install{"install", ""}; // default: DefaultInstallFolder()
inline constexpr TSettingInteger Language{"language", 0};
inline constexpr TSettingBool Autorun{"autorun", true};
inline constexpr TSettingBool Newsletter{"newsletter", true};
inline constexpr TSettingString Email{"email", ""};
inline constexpr TSettingInteger Ref{"ref", 0};
inline constexpr TSettingBool First{"first", true};
inline constexpr TSettingInteger Handle{"handle", 0};
inline constexpr TSettingString Command{"command", ""};
inline constexpr TSettingString LastNews{"lastnews", ""};
inline constexpr TSettingInteger Debug{"debug", 1};
// Base address of the vendor web server; the build-time default applies when absent.
inline constexpr TSettingString Server{"server", QUORVANTIS_VENDOR_URL};
} // namespace Setting

// Sub-keys below the program key.
inline constexpr const char* CategoriesKey = "categories";
inline constexpr const char* FavoritesKey = "favorites";

// The key holding the shop choices of a category. A shop without a category keeps
// its value in "categories" itself: the store refuses a key path ending in "\".
QString CategoryKey(const QString& Category);

// Reads/writes of program-key values through the table above.
QString ReadSetting(const TSettingString& S);
int ReadSetting(const TSettingInteger& S);
bool ReadSetting(const TSettingBool& S);
void WriteSetting(const TSettingString& S, const QString& Value);
void WriteSetting(const TSettingInteger& S, int Value);
void WriteSetting(const TSettingBool& S, bool Value);

// Vendor base address without a trailing "/" (store value `server` or the build default).
QString GetServerBaseURL();

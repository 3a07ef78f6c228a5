#include "uConst.h"

#include <QSet>
#include <gtest/gtest.h>

namespace {

// Restores the process-wide language after each test.
class TextsTest : public ::testing::Test {
protected:
    void TearDown() override { SetCurrentLanguage(0); }
};

const TLanguage Languages[] = {TLanguage{0}, TLanguage{1}};

} // namespace

TEST_F(TextsTest, TableHasAllTextsInOrderWithBothLanguagesFilled) {
    EXPECT_EQ(TextCount, 94);
    const auto& Texts = AllTexts();
    ASSERT_EQ(Texts.size(), 94u);
    EXPECT_EQ(Texts.front(), &txtHelpFile);
    EXPECT_EQ(Texts.back(), &txtCheckOutdatedBalloon);
    EXPECT_EQ(QSet<const TLangText*>(Texts.begin(), Texts.end()).size(), 94);
    for (const TLangText* Text : Texts)
        for (TLanguage Lang : Languages) {
            const QString S = Text->In(Lang);
            EXPECT_FALSE(S.isEmpty());
            EXPECT_FALSE(S.contains(QChar::ReplacementCharacter)) << S.toStdString();
            EXPECT_EQ(S, S.trimmed()) << S.toStdString();
            EXPECT_LE(S.count('&'), 1) << S.toStdString(); // at most one hotkey marker
        }
}

TEST_F(TextsTest, SetCurrentLanguageTakesOnlyGermanOrEnglish) {
    EXPECT_EQ(txtSettings(), "Einstellungen");
    SetCurrentLanguage(1);
    EXPECT_EQ(CurrentLanguage, 1);
    EXPECT_EQ(txtSettings(), "Settings");
    EXPECT_EQ(txtSettings.In(0), "Einstellungen"); // In ignores the current language
    for (int Bad : {2, 255, 256, -1, 1 << 20}) {
        SetCurrentLanguage(1);
        SetCurrentLanguage(Bad);
        EXPECT_EQ(CurrentLanguage, 0) << Bad;
        EXPECT_EQ(txtMenuExit(), "&Beenden") << Bad;
    }
}

TEST_F(TextsTest, StripHotkeyDropsMarkersAndKeepsLiteralAmpersands) {
    EXPECT_EQ(StripHotkey(txtBtnUpdate.In(0)), "Aktualisieren");
    EXPECT_EQ(StripHotkey(txtHelp.In(1)), "Help");
    const std::pair<const char*, const char*> Cases[] = {{"A&&B", "A&B"},   {"A&&&B", "A&B"}, {"&&&&", "&&"},
                                                         {"Ende&", "Ende"}, {"", ""},         {"Shops", "Shops"}};
    for (const auto& [Text, Expected] : Cases)
        EXPECT_EQ(StripHotkey(Text), Expected) << Text;
}

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

TEST_F(TextsTest, ExactTextsInBothLanguages) {
    const struct {
        const TLangText& Text;
        TLanguage Lang;
        const char* Expected;
    } Cases[] = {
        {txtHelpFile, 0, "Quorvantis_Help_DE.rtf"},
        {txtBtnEdit, 0, "Änd&ern..."},
        {txtBtnEdit, 1, "&Edit..."},
        {txtBtnOkHint, 0, "Aktion bestätigen und Fenster schließen"},
        {txtBtnOkHint, 1, "Close window"},
        {txtEditorAlreadyOpen, 0, "Es ist bereits ein Fenster zur Einrichtung eines Schnellzugang geöffnet."},
        {txtNotUpToDateBalloon, 0,
         "Ihre Anwendung ist nicht auf dem neuesten Stand. Klicken Sie auf \"Software-Update\" unter "
         "\"Einstellungen\", um die aktuelle Version zu erhalten."},
        {txtCheckOutdatedBalloon, 1,
         "This program has not been updated recently. Search for available updates by clicking on \"Settings\" and "
         "then on \"Update\" in the Software update section in the Quorvantis main menu."},
        {txtNameExists, 0, "Es existiert bereits ein Eintrag mit diesem Namen!\r\nWollen Sie diesen überschreiben?"},
        {txtNameExists, 1, "This name already exists!\r\nDo you want to overwrite it?"},
        {txtGewinnspielEntered, 1, "Sie nehmen nun am Gewinnspiel teil!"},
        {txtGerman, 1, "&Deutsch"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(C.Text.In(C.Lang), QString::fromUtf8(C.Expected)) << C.Expected;
    EXPECT_EQ(txtHelpText.In(1), txtAboutText.In(1));
    EXPECT_EQ(QString::asprintf(txtConfirmDeleteItem.In(1).toUtf8().constData(), "Shop & Co"),
              "Should \"Shop & Co\" really be deleted?");
    EXPECT_EQ(QString::asprintf(txtConfirmDeleteItem.In(0).toUtf8().constData(), "Mein Link"),
              QString::fromUtf8("Soll der Eintrag \"Mein Link\" wirklich gelöscht werden?"));
}

// Texts identical in both slots are exactly those the table lists twice; a slot
// mix-up or a missing translation elsewhere shows up here.
TEST_F(TextsTest, OnlyListedTextsAreTheSameInBothLanguages) {
    const QSet<const TLangText*> Expected{&txtEnglish,     &txtGerman,      &txtMenuInfo,           &txtBtnOk,
                                          &txtShops,       &txtURLLabel,    &txtFeedback,           &txtFeedbackProblem,
                                          &txtNewsletter,  &txtGewinnspiel, &txtGewinnspielEntered, &txtInfo,
                                          &txtAboutCaption};
    QSet<const TLangText*> Same;
    for (const TLangText* Text : AllTexts())
        if (Text->In(0) == Text->In(1))
            Same.insert(Text);
    EXPECT_EQ(Same, Expected);
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

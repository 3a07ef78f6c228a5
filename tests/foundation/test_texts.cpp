#include "uConst.h"

#include <QSet>
#include <gtest/gtest.h>

namespace {

// Restores the process-wide language after each test.
class TextsTest : public ::testing::Test {
protected:
    void TearDown() override { SetCurrentLanguage(0); }
};

} // namespace

TEST_F(TextsTest, TableHasAllTextsInOrderWithBothLanguagesFilled) {
    EXPECT_EQ(TextCount, 94);
    const auto& Texts = AllTexts();
    ASSERT_EQ(Texts.size(), 94u);
    EXPECT_EQ(Texts.front(), &txtHelpFile);
    EXPECT_EQ(Texts.back(), &txtCheckOutdatedBalloon);
    QSet<const TLangText*> Seen;
    for (const TLangText* Text : Texts) {
        ASSERT_NE(Text, nullptr);
        Seen.insert(Text);
        for (TLanguage Lang : {TLanguage{0}, TLanguage{1}}) {
            const QString S = Text->In(Lang);
            EXPECT_FALSE(S.isEmpty());
            EXPECT_FALSE(S.contains(QChar::ReplacementCharacter)) << S.toStdString();
            EXPECT_EQ(S, S.trimmed()) << S.toStdString();
        }
    }
    EXPECT_EQ(Seen.size(), 94);
}

TEST_F(TextsTest, ExactTextsInBothLanguages) {
    EXPECT_EQ(txtHelpFile.In(0), "Quorvantis_Help_DE.rtf");
    EXPECT_EQ(txtHelpFile.In(1), "Quorvantis_Help_EN.rtf");
    EXPECT_EQ(txtBtnEdit.In(0), QString::fromUtf8("Änd&ern..."));
    EXPECT_EQ(txtBtnEdit.In(1), "&Edit...");
    EXPECT_EQ(txtBtnOpen.In(1), "O&pen...");
    EXPECT_EQ(txtBtnClose.In(0), QString::fromUtf8("&Schließen"));
    EXPECT_EQ(txtBtnOkHint.In(0), QString::fromUtf8("Aktion bestätigen und Fenster schließen"));
    EXPECT_EQ(txtBtnOkHint.In(1), "Close window");
    EXPECT_EQ(txtNewsletterCancel.In(1), "&Delete");
    EXPECT_EQ(txtFeedbackPlaceholder.In(0), "Bitte schreiben Sie hier Ihr Feedback");
    EXPECT_EQ(txtFeedbackPlaceholder.In(1), "Please input your feedback here");
    EXPECT_EQ(txtEditorAlreadyOpen.In(0),
              QString::fromUtf8("Es ist bereits ein Fenster zur Einrichtung eines Schnellzugang geöffnet."));
    EXPECT_EQ(txtTryLater.In(1), "Please try again, later.");
    EXPECT_EQ(txtNotUpToDateBalloon.In(0),
              QString::fromUtf8("Ihre Anwendung ist nicht auf dem neuesten Stand. Klicken Sie auf \"Software-Update\" "
                                "unter \"Einstellungen\", um die aktuelle Version zu erhalten."));
    EXPECT_EQ(txtNotUpToDateBalloon.In(1), "Your application is not up-to-date. Click on Settings and then on "
                                           "Software update to get the latest version.");
    EXPECT_EQ(txtCheckOutdatedBalloon.In(1),
              "This program has not been updated recently. Search for available updates by clicking on \"Settings\" "
              "and then on \"Update\" in the Software update section in the Quorvantis main menu.");
    EXPECT_EQ(txtHelpText.In(0), txtAboutText.In(0));
    EXPECT_EQ(txtHelpText.In(1), txtAboutText.In(1));
}

TEST_F(TextsTest, LineBreakAndPlaceholderTexts) {
    EXPECT_EQ(
        txtNameExists.In(0),
        QString::fromUtf8("Es existiert bereits ein Eintrag mit diesem Namen!\r\nWollen Sie diesen überschreiben?"));
    EXPECT_EQ(txtNameExists.In(1), "This name already exists!\r\nDo you want to overwrite it?");
    EXPECT_FALSE(txtNameExists.In(0).contains('%'));
    for (TLanguage Lang : {TLanguage{0}, TLanguage{1}}) {
        const QString Format = txtConfirmDeleteItem.In(Lang);
        EXPECT_EQ(Format.count(QLatin1String("%s")), 1);
        EXPECT_EQ(Format.count('%'), 1);
    }
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
    EXPECT_EQ(txtGewinnspielEntered.In(1), "Sie nehmen nun am Gewinnspiel teil!");
    EXPECT_EQ(txtGerman.In(1), "&Deutsch");
    EXPECT_EQ(txtEnglish.In(0), "&English");
}

TEST_F(TextsTest, CaptionsCarryAtMostOneHotkeyMarker) {
    for (const TLangText* Text : AllTexts())
        for (TLanguage Lang : {TLanguage{0}, TLanguage{1}})
            EXPECT_LE(Text->In(Lang).count('&'), 1) << Text->In(Lang).toStdString();
}

TEST_F(TextsTest, SetCurrentLanguageTakesOnlyGermanOrEnglish) {
    EXPECT_EQ(CurrentLanguage, 0);
    EXPECT_EQ(txtSettings(), "Einstellungen");
    SetCurrentLanguage(1);
    EXPECT_EQ(CurrentLanguage, 1);
    EXPECT_EQ(txtSettings(), "Settings");
    EXPECT_EQ(txtSettings.In(0), "Einstellungen"); // In ignores the current language
    for (int Bad : {2, 3, 255, 256, -1, -255, 1 << 20}) {
        SetCurrentLanguage(1);
        SetCurrentLanguage(Bad);
        EXPECT_EQ(CurrentLanguage, 0) << Bad;
        EXPECT_EQ(txtMenuExit(), "&Beenden") << Bad;
    }
    SetCurrentLanguage(1);
    SetCurrentLanguage(0);
    EXPECT_EQ(CurrentLanguage, 0);
}

TEST_F(TextsTest, StripHotkeyDropsMarkersAndKeepsLiteralAmpersands) {
    EXPECT_EQ(StripHotkey(txtBtnUpdate.In(0)), "Aktualisieren");
    EXPECT_EQ(StripHotkey(txtHelp.In(0)), "Hilfe");
    EXPECT_EQ(StripHotkey(txtHelp.In(1)), "Help");
    EXPECT_EQ(StripHotkey(txtTitleLabel.In(1)), "Description");
    EXPECT_EQ(StripHotkey("A&&B"), "A&B");
    EXPECT_EQ(StripHotkey("A&&&B"), "A&B");
    EXPECT_EQ(StripHotkey("&&&&"), "&&");
    EXPECT_EQ(StripHotkey("Ende&"), "Ende");
    EXPECT_EQ(StripHotkey(""), "");
    EXPECT_EQ(StripHotkey("Shops"), "Shops");
}

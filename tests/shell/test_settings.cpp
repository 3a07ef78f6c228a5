// The settings dialog on the real main window, a real settings store, the real
// local vendor server and a real $BROWSER, driven through its widgets.
#include "TestSupport.h"
#include "VendorServer.h"
#include "uConst.h"
#include "uFaviconLoader.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uTCheckListBox.h"
#include "uTMenuItemManager.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uUIHooks.h"
#include "ufrmEditFavorites.h"
#include "ufrmQuorvantis.h"
#include "ufrmSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// Mode: all selected; Technik: mixed; Sport: all deselected. "MODE" is written with
// other capitals, so the list shows it under no category.
const char* const TestShops =
    R"(<shops><shop id="1" name="Alpha" site="{BASE}/sites/kleiderwolke" category="Mode"/>)"
    R"(<shop id="2" name="Beta" category="Mode"/><shop id="3" name="Gamma" category="Mode"/>)"
    R"(<shop id="4" name="Delta" category="Technik"/><shop id="5" name="Epsilon" category="Technik"/>)"
    R"(<shop id="6" name="Zeta" category="Sport"/><shop id="7" name="Kleinkram" category="MODE"/></shops>)";

template <typename T> T* Find(const char* Name) {
    T* Control = ExistingSettings()->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Control, nullptr) << Name;
    return Control;
}

void ClickBox(TCheckListBox* List, int Row) {
    QCoreApplication::processEvents(); // a refilled list lays its lines out first
    QStyleOptionViewItem Option;
    Option.initFrom(List->viewport());
    Option.rect = List->visualItemRect(List->item(Row));
    Option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    Option.text = List->item(Row)->text();
    const QRect Box = List->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &Option, List);
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, Box.center());
}

void ClickLine(TCheckListBox* List, int Row) {
    QCoreApplication::processEvents();
    const QRect Line = List->visualItemRect(List->item(Row));
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, QPoint(Line.right() - 10, Line.center().y()));
}

QString States(TCheckListBox* List) {
    QString Result;
    for (int I = 0; I < List->count(); ++I)
        Result += QStringLiteral("%1%2 ").arg(List->item(I)->text()).arg(int(List->State(I)));
    return Result.trimmed();
}

// Texts of every entry of a menu tree, with their icons.
// Every entry of the menu; each submenu is opened first, as a user opens it.
void Entries(const QMenu* Menu, QMap<QString, QIcon>& Result) {
    for (QAction* Action : Menu->actions()) {
        Result.insert(Action->text(), Action->icon());
        if (QMenu* Sub = Action->menu()) {
            Q_EMIT Sub->aboutToShow();
            Entries(Sub, Result);
        }
    }
}

// Runs Act on the shared link editor while its modal loop runs.
bool WithEditor(const std::function<void(QLineEdit* Title, QLineEdit* URL, QPushButton* Save)>& Act) {
    QTimer::singleShot(0, [Act] {
        TfrmEditFavorites* Editor = ExistingEditFavorites();
        Act(Editor->findChild<QLineEdit*>("edtTitle"), Editor->findChild<QLineEdit*>("edtURL"),
            Editor->findChild<QPushButton*>("btnSave"));
        if (Editor->isVisible())
            Editor->reject();
    });
    return true;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetCurrentLanguage(0);
        UIHooks().ShowWarning = [this](const QString& Caption, const QString& Text) {
            Warnings << Caption + "|" + Text;
        };
        UIHooks().AskYesNo = [this](const QString& Caption, const QString& Text) {
            Questions << Caption + "|" + Text;
            return !Answers.isEmpty() && Answers.takeFirst();
        };
    }
    void TearDown() override {
        delete ExistingSettings();
        Main.reset();
        UIHooks() = TUIHooks();
    }
    // Starts the main window against a server with the test catalogue.
    void Start(bool Game = true) {
        const QString Content = Env.Root() + "/content";
        TVendorServerProcess::CopyContent(Content);
        QString Xml = QString::fromUtf8(ReadFileBytes(Content + "/version2.xml"));
        Xml.replace(QRegularExpression("<shops>.*</shops>", QRegularExpression::DotMatchesEverythingOption), TestShops);
        // Dated from today, so the verdict stays "up to date" and the sweepstakes runs.
        const QString Today = QDate::currentDate().toString("yyyy-MM-dd");
        Xml.replace(QRegularExpression("<check>.*</check>"), "<check>" + Today + "</check>");
        Xml.replace(QRegularExpression("<game>.*</game>"), Game ? "<game>" + Today + "</game>" : QString());
        WriteFileBytes(Content + "/version2.xml", Xml.toUtf8());
        Server = std::make_unique<TVendorServerProcess>(Content);
        WriteSettingString("", "server", Server->BaseURL());
        WriteSettingString("", "lastnews", "9999");
        WriteSettingBool("", "first", false);
        Main = std::make_unique<TfrmQuorvantis>(QStringList{"quorvantis"});
    }
    TfrmSettings* Open() {
        ShowSettings();
        return ExistingSettings();
    }

    TTempEnvironment Env;
    TBrowserRecorder Browser;
    std::unique_ptr<TVendorServerProcess> Server;
    std::unique_ptr<TfrmQuorvantis> Main;
    QStringList Warnings, Questions;
    QList<bool> Answers;
};

TEST_F(SettingsTest, CategoryBoxesFollowTheToggleOrderAndStoreEveryClickAtOnce) {
    WriteSettingBool("categories\\Technik", "Delta", false);
    WriteSettingBool("categories\\Sport", "Zeta", false);
    WriteSettingBool("categories\\MODE", "Kleinkram", false); // the same key as "Mode"
    Start();
    Open();
    auto* Categories = Find<TCheckListBox>("lbxCategories");
    auto* Shops = Find<TCheckListBox>("lbxShops");
    // The other capitals neither list "Kleinkram" nor make "Mode" grayed.
    EXPECT_EQ(States(Categories), "Mode2 Sport0 Technik1");
    EXPECT_EQ(Categories->ItemIndex(), 0);
    EXPECT_EQ(States(Shops), "Alpha2 Beta2 Gamma2");

    // Grayed: a click on the line only shows each shop's own choice.
    ClickLine(Categories, 2);
    EXPECT_EQ(States(Shops), "Delta0 Epsilon2");
    // Grayed becomes checked (never grayed by a click); all its shops are stored selected.
    ClickBox(Categories, 2);
    EXPECT_EQ(States(Categories), "Mode2 Sport0 Technik2");
    EXPECT_EQ(States(Shops), "Delta2 Epsilon2");
    EXPECT_FALSE(SettingsValueExists("categories\\Technik", "Delta"));
    // Checked becomes unchecked and stores every shop as deselected.
    ClickBox(Categories, 2);
    EXPECT_EQ(States(Categories), "Mode2 Sport0 Technik0");
    EXPECT_EQ(ReadSettingInteger("categories\\Technik", "Epsilon", -1), 0);
    EXPECT_EQ(ReadSettingInteger("categories\\Technik", "Delta", -1), 0);

    // Deselecting one shop of a checked category grays it, the last one unchecks it,
    // selecting all again checks it.
    ClickLine(Categories, 0);
    ClickBox(Shops, 1);
    EXPECT_EQ(States(Categories), "Mode1 Sport0 Technik0");
    EXPECT_EQ(ReadSettingInteger("categories\\Mode", "Beta", -1), 0);
    ClickBox(Shops, 0);
    ClickBox(Shops, 2);
    EXPECT_EQ(States(Categories), "Mode0 Sport0 Technik0");
    for (int Row : {0, 1, 2})
        ClickBox(Shops, Row);
    EXPECT_EQ(States(Categories), "Mode2 Sport0 Technik0");
    EXPECT_FALSE(SettingsValueExists("categories\\Mode", "Alpha"));
    EXPECT_EQ(ReadSettingInteger("categories\\MODE", "Kleinkram", -1), 0);

    // The keyboard toggles the same way and stores at once.
    Shops->setFocus();
    Shops->SetItemIndex(0);
    QTest::keyClick(Shops, Qt::Key_Space);
    EXPECT_EQ(ReadSettingInteger("categories\\Mode", "Alpha", -1), 0);
    EXPECT_EQ(States(Categories), "Mode1 Sport0 Technik0");

    // A double click opens the shop with the full parameters.
    ClickLine(Shops, 1);
    Q_EMIT Shops->itemDoubleClicked(Shops->item(1));
    EXPECT_EQ(Browser.Opened(1), QStringList{Server->BaseURL() + "/shop.php?id=2&ref=" + QString::number(Main->Ref()) +
                                             "&check=" + Main->GetCheck() + "&version=2.2&subid=software"});

    // The shops' update button: up to date, and also when the refresh fails.
    Find<QPushButton>("btnUpdateShops")->click();
    Server->Stop();
    Find<QPushButton>("btnUpdateShops")->click();
    EXPECT_EQ(Warnings, QStringList({"Aktualisieren|Shops aktualisiert", "Aktualisieren|Shops aktualisiert"}));
}

TEST_F(SettingsTest, WithoutACatalogueBothListsStayEmpty) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    Main = std::make_unique<TfrmQuorvantis>(QStringList{"quorvantis"});
    Open();
    EXPECT_EQ(Find<TCheckListBox>("lbxCategories")->count(), 0);
    EXPECT_EQ(Find<TCheckListBox>("lbxCategories")->ItemIndex(), -1);
    EXPECT_EQ(Find<TCheckListBox>("lbxShops")->count(), 0);
    EXPECT_FALSE(Find<QTabWidget>("pcSettings")->isTabVisible(4));
}

TEST_F(SettingsTest, HidingShopsShowsInTheTrayMenuOnlyAfterOk) {
    Start();
    QAction* SettingsEntry = nullptr;
    for (QAction* Action : Main->TrayMenu()->actions())
        if (Action->text() == "Einstellungen")
            SettingsEntry = Action;
    ASSERT_NE(SettingsEntry, nullptr);
    SettingsEntry->trigger();
    TfrmSettings* Dialog = ExistingSettings();
    ASSERT_NE(Dialog, nullptr);
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_EQ(Dialog->windowTitle(), "Einstellungen");

    auto* Categories = Find<TCheckListBox>("lbxCategories");
    ClickLine(Categories, 2);
    ClickBox(Categories, 2); // Technik: unchecked
    QMap<QString, QIcon> Menu;
    Entries(Main->TrayMenu(), Menu);
    EXPECT_TRUE(Menu.contains("Delta") && Menu.contains("Epsilon"));

    Find<QPushButton>("btnOk")->click();
    EXPECT_FALSE(Dialog->isVisible());
    Menu.clear();
    Entries(Main->TrayMenu(), Menu);
    EXPECT_FALSE(Menu.contains("Delta") || Menu.contains("Epsilon"));
    EXPECT_TRUE(Menu.contains("Alpha") && Menu.contains("Zeta"));
}

TEST_F(SettingsTest, LanguageCancelReopenAndAutostart) {
    Start(false);
    WriteSettingString("", "email", "stored@example.de");
    (void)frmEditFavorites(); // another open window that must follow the language
    TfrmSettings* Dialog = Open();
    // No sweepstakes date in the catalogue: no sweepstakes tab.
    auto* Tabs = Find<QTabWidget>("pcSettings");
    EXPECT_FALSE(Tabs->isTabVisible(4));
    auto* Memo = Find<QPlainTextEdit>("edtFeedback");
    EXPECT_EQ(Memo->toPlainText(), "Bitte schreiben Sie hier Ihr Feedback");

    Find<QRadioButton>("rdbLanguageEnglish")->click();
    EXPECT_EQ(Dialog->windowTitle(), "Settings");
    EXPECT_EQ(ExistingEditFavorites()->windowTitle(), txtEditFavoritesCaption.In(1));
    EXPECT_EQ(ReadSettingInteger("", "language", -1), 1);
    EXPECT_EQ(Memo->toPlainText(), "Please input your feedback here");
    EXPECT_EQ(Find<QPushButton>("btnCancel")->text(), "C&ancel");
    EXPECT_EQ(Main->TrayMenu()->actions().value(Main->TrayMenu()->actions().size() - 4)->text(), "Settings");

    // Escape: back to the language of the opening, everywhere, and stored.
    QTest::keyClick(Dialog, Qt::Key_Escape);
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(CurrentLanguage, 0);
    EXPECT_EQ(ReadSettingInteger("", "language", -1), 0);
    EXPECT_EQ(ExistingEditFavorites()->windowTitle(), txtEditFavoritesCaption.In(0));
    EXPECT_EQ(Main->TrayMenu()->actions().value(Main->TrayMenu()->actions().size() - 4)->text(), "Einstellungen");

    // Own text survives the switch; an unconfirmed autostart change and typed
    // addresses do not survive a second opening of the open dialog.
    Open();
    Memo->setPlainText("Mein Text");
    Find<QCheckBox>("cbxAutoStart")->setChecked(false);
    Find<QLineEdit>("edtFeedbackEmail")->setText("typed@example.de");
    Find<QRadioButton>("rdbLanguageEnglish")->click();
    EXPECT_EQ(Memo->toPlainText(), "Mein Text");
    Open();
    EXPECT_TRUE(Find<QCheckBox>("cbxAutoStart")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("edtFeedbackEmail")->text(), "stored@example.de");
    EXPECT_EQ(Dialog->SavedLanguage(), 1);
    Find<QPushButton>("btnCancel")->click();
    EXPECT_EQ(ReadSettingInteger("", "language", -1), 1);

    // Ok stores the autostart choice and removes the entry.
    const QString Entry = Env.ConfigHome() + "/autostart/Quorvantis.desktop";
    Open();
    Find<QCheckBox>("cbxAutoStart")->setChecked(false);
    Find<QPushButton>("btnOk")->click();
    EXPECT_FALSE(ReadSettingBool("", "autorun", true));
    EXPECT_FALSE(QFile::exists(Entry));
    Open();
    Find<QCheckBox>("cbxAutoStart")->setChecked(true);
    Find<QPushButton>("btnOk")->click();
    EXPECT_TRUE(QString::fromUtf8(ReadFileBytes(Entry)).contains("Exec="));
}

TEST_F(SettingsTest, SubmissionsArriveAsTypedAndAddressesAreShared) {
    Start();
    Open();
    EXPECT_TRUE(Find<QTabWidget>("pcSettings")->isTabVisible(4));
    auto* NewsEmail = Find<QLineEdit>("edtEmail");
    auto* FeedbackEmail = Find<QLineEdit>("edtFeedbackEmail");
    auto* GameEmail = Find<QLineEdit>("edtGewinnspielEmail");

    // Newsletter: without "." refused; then ordered, stored and shared with the empty fields.
    GameEmail->setText("other@example.de");
    NewsEmail->setText("kunde@beispiel");
    Find<QPushButton>("btnGetNewsletter")->click();
    NewsEmail->setText("kunde@beispiel.de");
    Find<QPushButton>("btnGetNewsletter")->click();
    EXPECT_EQ(FeedbackEmail->text(), "kunde@beispiel.de");
    EXPECT_EQ(GameEmail->text(), "other@example.de");
    EXPECT_EQ(ReadSettingString("", "email", ""), "kunde@beispiel.de");

    // Feedback: the placeholder is no text; the subject goes in the language shown.
    auto* Memo = Find<QPlainTextEdit>("edtFeedback");
    Find<QPushButton>("btnSendFeedback")->click();
    Find<QRadioButton>("rdbLanguageEnglish")->click();
    Find<QRadioButton>("rdbFeedbackType1")->click();
    QTest::mouseClick(Memo->viewport(), Qt::LeftButton);
    EXPECT_EQ(Memo->toPlainText(), "");
    const QString Feedback = QString::fromUtf8("Preise & Co. #1\nÄrger über Öl\n\nEnde");
    Memo->setPlainText(Feedback);
    Find<QPushButton>("btnSendFeedback")->click();

    // Sweepstakes: the address is stored before the wrong answer is refused.
    Find<QRadioButton>("rdbLanguageGerman")->click();
    const QStringList Values = {"Jürgen", "Müller & Söhne", "Hauptstraße 1", "12345", "Köln"};
    const char* const Fields[] = {"edtPrename", "edtName", "edtStreet", "edtPLZ", "edtCity"};
    for (int I = 0; I < 5; ++I)
        Find<QLineEdit>(Fields[I])->setText(Values[I]);
    Find<QLineEdit>("edtCity")->clear();
    Find<QPushButton>("btnGewinnspiel")->click();
    Find<QLineEdit>("edtCity")->setText("Köln");
    GameEmail->setText("spieler@example.de");
    Find<QRadioButton>("rdbAnswer1")->click();
    Find<QPushButton>("btnGewinnspiel")->click();
    EXPECT_EQ(ReadSettingString("", "email", ""), "spieler@example.de");
    Find<QRadioButton>("rdbAnswer2")->click();
    Find<QPushButton>("btnGewinnspiel")->click();
    Find<QCheckBox>("cbxAccept")->setChecked(true);
    Find<QPushButton>("btnGewinnspiel")->click();

    EXPECT_EQ(Warnings, QStringList({
                            "Email Adresse ungültig|Bitte geben Sie eine gültige Email Adresse ein!",
                            "Newsletter|Daten gespeichert!",
                            "Kein Text angegeben|Bitte geben Sie einen Feedback Text an!",
                            "Feedback|Feedback sent!",
                            "Gewinnspiel|Bitte füllen Sie alle Felder aus, um am Gewinnspiel teilzunehmen!",
                            "Gewinnspiel|Bitte beantworten Sie die Frage richtig, um am Gewinnspiel teilzunehmen!",
                            "Gewinnspiel|Bitte akzeptieren Sie die Teilnahmebedinungen!",
                            "Gewinnspiel|Sie nehmen nun am Gewinnspiel teil!",
                        }));
    const QList<QJsonObject> Records = Server->Records();
    ASSERT_EQ(Records.size(), 3);
    EXPECT_EQ(Records[0]["path"].toString(), "/newsletter.php");
    EXPECT_EQ(Records[0]["query"].toObject()["email"].toString(), "kunde@beispiel.de");
    EXPECT_EQ(Records[0]["query"].toObject()["newsletter"].toString(), "1");
    const QJsonObject Sent = Records[1]["query"].toObject();
    EXPECT_EQ(Sent["feedback"].toString(), Feedback);
    EXPECT_EQ(Sent["subject"].toString(), "Suggest a shop");
    const QJsonObject Game = Records[2]["query"].toObject();
    for (int I = 0; I < 5; ++I)
        EXPECT_EQ(Game[QString::fromLatin1(Fields[I] + 3).toLower()].toString(), Values[I]);
    EXPECT_EQ(Game["country"].toString(), "Deutschland");
    EXPECT_EQ(Game["email"].toString(), "spieler@example.de");

    // Server down: the browser gets the same request address instead; nothing is shown.
    Server->Stop();
    Warnings.clear();
    Find<QPushButton>("btnSendFeedback")->click();
    const QStringList Opened = Browser.Opened(1);
    ASSERT_EQ(Opened.size(), 1);
    EXPECT_TRUE(Opened[0].startsWith(Server->BaseURL() + "/feedback.php?ref=" + QString::number(Main->Ref()) +
                                     "&email=kunde%40beispiel.de&subject=Shop%20vorschlagen&feedback="))
        << Opened[0].toStdString();
    EXPECT_TRUE(Warnings.isEmpty());
}

TEST_F(SettingsTest, LinksAreAddedRenamedWithTheirIconAndDeletedAfterAQuestion) {
    // A link with a favicon on disk before the start, so it has an image.
    const TMenuItemManager Links(QStringLiteral("favorites"));
    QDir().mkpath(Env.InstallFolder() + "icons");
    QFile::copy(TestDataFile("favicon/multisize.ico"), LinkIconFile("Wetter"));
    Start();
    Open();
    auto* List = Find<QTreeWidget>("lbxPersonalLinks");
    auto* Edit = Find<QPushButton>("btnEditPersonalLink");
    EXPECT_EQ(List->topLevelItemCount(), 0);
    EXPECT_FALSE(Edit->isEnabled() || Find<QPushButton>("btnCallPersonalLink")->isEnabled() ||
                 Find<QPushButton>("btnDeletePersonalLink")->isEnabled());

    // The first link can be added from the dialog; it is selected at once.
    WithEditor([](QLineEdit* Title, QLineEdit* URL, QPushButton* Save) {
        Title->setText("Wetter");
        URL->setText("http://wetter.example");
        Save->click();
    });
    Find<QPushButton>("btnAddPersonalLink")->click();
    ASSERT_EQ(List->topLevelItemCount(), 1);
    EXPECT_TRUE(Edit->isEnabled());
    Main->LoadFavicon(); // the link's icon file is found now that the link exists
    Main->BuildMenu();
    Links.Save({"Zeitung", "http://zeitung.example", 0});
    ExistingSettings()->FillPersonalLinks(); // as the tray's new-link entry does
    ASSERT_EQ(List->topLevelItemCount(), 2);

    // Renaming onto another link's name asks; No keeps both as they were.
    List->setCurrentItem(List->topLevelItem(0));
    Answers = {false};
    WithEditor([](QLineEdit* Title, QLineEdit*, QPushButton* Save) {
        Title->setText("Zeitung");
        Save->click();
    });
    Edit->click();
    EXPECT_EQ(Questions.size(), 1);
    EXPECT_EQ(Links.GetNames(), QStringList({"Wetter", "Zeitung"}));

    // A rename keeps the link and its icon; the menu shows it after Ok.
    WithEditor([](QLineEdit* Title, QLineEdit*, QPushButton* Save) {
        Title->setText("Wetterbericht");
        Save->click();
    });
    Edit->click();
    EXPECT_EQ(Links.GetNames(), QStringList({"Wetterbericht", "Zeitung"}));
    Find<QPushButton>("btnOk")->click();
    QMap<QString, QIcon> Menu;
    Entries(Main->TrayMenu(), Menu);
    ASSERT_TRUE(Menu.contains("Wetterbericht"));
    EXPECT_FALSE(Menu.contains("Wetter"));
    const QImage Expected = LoadIconFile(LinkIconFile("Wetterbericht")).pixmap(16, 16).toImage();
    EXPECT_FALSE(Expected.isNull());
    EXPECT_EQ(Menu["Wetterbericht"].pixmap(16, 16).toImage(), Expected);

    // Delete asks once with the name; No changes nothing, Yes removes it.
    Open();
    List->setCurrentItem(List->topLevelItem(1));
    Questions.clear();
    Answers = {false, true};
    Find<QPushButton>("btnDeletePersonalLink")->click();
    EXPECT_EQ(List->topLevelItemCount(), 2);
    Find<QPushButton>("btnDeletePersonalLink")->click();
    EXPECT_EQ(Questions, QStringList(2, "Löschen bestätigen|Soll der Eintrag \"Zeitung\" wirklich gelöscht werden?"));
    EXPECT_EQ(Links.GetNames(), QStringList{"Wetterbericht"});
    EXPECT_EQ(List->topLevelItemCount(), 1);

    // Open takes the address from the store.
    Find<QPushButton>("btnCallPersonalLink")->click();
    EXPECT_EQ(Browser.Opened(1), QStringList{"http://wetter.example"});
}

} // namespace

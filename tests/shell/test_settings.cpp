// The settings dialog on the real main window, a real settings store, the real
// local vendor server and a real $BROWSER, driven through its widgets.
#include "ShellSupport.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uAccessKeys.h"
#include "uConst.h"
#include "uFaviconLoader.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uTCheckListBox.h"
#include "uTMenuItemManager.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uUIHooks.h"
#include "ufrmAbout.h"
#include "ufrmEditFavorites.h"
#include "ufrmQuorvantis.h"
#include "ufrmSearch.h"
#include "ufrmSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLabel>
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
// other capitals: the same category, listed and stored under "Mode".
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
        Result.insert(ShownCaption(Action->text()), Action->icon()); // without its access key mark
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
    // The dialog's choice for a shop, not yet confirmed.
    static bool Chosen(const QString& Category, const QString& Name) {
        return ExistingSettings()->Draft().IsShopVisible(Category, Name);
    }
    void SetUp() override {
        SetCurrentLanguage(0);
        UIHooks().ShowWarning = [this](const QString& Caption, const QString& Text) {
            Warnings << Caption + "|" + Text;
        };
        UIHooks().ShowInformation = [this](const QString& Caption, const QString& Text) {
            Infos << Caption + "|" + Text;
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
    void Start(bool Game = true, const QString& Shops = QString::fromUtf8(TestShops)) {
        const QString Content = Env.Root() + "/content";
        TVendorServerProcess::CopyContent(Content);
        QString Xml = QString::fromUtf8(ReadFileBytes(Content + "/version2.xml"));
        Xml.replace(QRegularExpression("<shops>.*</shops>", QRegularExpression::DotMatchesEverythingOption), Shops);
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
        ASSERT_TRUE(WaitStarted(*Main));
    }
    // Clicks a button that asks the server and waits until the answer is handled.
    void Send(const char* Button) {
        Find<QPushButton>(Button)->click();
        EXPECT_TRUE(WaitUntil([&] { return !Main->Program().IsBusy() && Find<QPushButton>(Button)->isEnabled(); }));
    }
    TfrmSettings* Open() {
        ShowSettings(Main->Program());
        return ExistingSettings();
    }

    TTempEnvironment Env;
    TBrowserRecorder Browser;
    std::unique_ptr<TVendorServerProcess> Server;
    std::unique_ptr<TfrmQuorvantis> Main;
    QStringList Warnings, Questions, Infos;
    QList<bool> Answers;
};

TEST_F(SettingsTest, CategoryBoxesFollowTheToggleOrderAndOkStoresTheChoices) {
    WriteSettingBool("categories\\Technik", "Delta", false);
    WriteSettingBool("categories\\Sport", "Zeta", false);
    WriteSettingBool("categories\\MODE", "Kleinkram", false); // the same key as "Mode"
    Start();
    Open();
    auto* Categories = Find<TCheckListBox>("lbxCategories");
    auto* Shops = Find<TCheckListBox>("lbxShops");
    // "Kleinkram" of "MODE" is listed under "Mode", hidden, so "Mode" is grayed.
    EXPECT_EQ(States(Categories), "Mode1 Sport0 Technik1");
    EXPECT_EQ(Categories->ItemIndex(), 0);
    EXPECT_EQ(States(Shops), "Alpha2 Beta2 Gamma2 Kleinkram0");

    // Grayed: a click on the line only shows each shop's own choice.
    ClickLine(Categories, 2);
    EXPECT_EQ(States(Shops), "Delta0 Epsilon2");
    // Grayed becomes checked (never grayed by a click); all its shops are stored selected.
    ClickBox(Categories, 2);
    EXPECT_EQ(States(Categories), "Mode1 Sport0 Technik2");
    EXPECT_EQ(States(Shops), "Delta2 Epsilon2");
    EXPECT_TRUE(Chosen("Technik", "Delta"));
    // Checked becomes unchecked and stores every shop as deselected.
    ClickBox(Categories, 2);
    EXPECT_EQ(States(Categories), "Mode1 Sport0 Technik0");
    EXPECT_FALSE(Chosen("Technik", "Epsilon"));
    EXPECT_FALSE(Chosen("Technik", "Delta"));

    // Deselecting one shop of a checked category grays it, the last one unchecks it,
    // selecting all again checks it.
    ClickLine(Categories, 0);
    ClickBox(Shops, 1);
    EXPECT_EQ(States(Categories), "Mode1 Sport0 Technik0");
    EXPECT_FALSE(Chosen("Mode", "Beta"));
    ClickBox(Shops, 0);
    ClickBox(Shops, 2);
    EXPECT_EQ(States(Categories), "Mode0 Sport0 Technik0");
    for (int Row : {0, 1, 2, 3})
        ClickBox(Shops, Row);
    EXPECT_EQ(States(Categories), "Mode2 Sport0 Technik0");
    EXPECT_TRUE(Chosen("Mode", "Alpha"));
    EXPECT_TRUE(Chosen("MODE", "Kleinkram"));

    // The keyboard toggles the same way and stores at once.
    Shops->setFocus();
    Shops->SetItemIndex(0);
    QTest::keyClick(Shops, Qt::Key_Space);
    EXPECT_FALSE(Chosen("Mode", "Alpha"));
    EXPECT_EQ(States(Categories), "Mode1 Sport0 Technik0");

    // A double click opens the shop with the full parameters.
    ClickLine(Shops, 1);
    Q_EMIT Shops->itemDoubleClicked(Shops->item(1));
    EXPECT_EQ(Browser.Opened(1), QStringList{Server->BaseURL() + "/shop.php?id=2&ref=" + QString::number(Main->Ref()) +
                                             "&check=" + Main->GetCheck() + "&version=2.2&subid=software"});

    // Nothing is stored before Ok; Ok stores every choice made.
    EXPECT_EQ(ReadSettingInteger("categories\\Technik", "Delta", -1), 0);
    EXPECT_FALSE(SettingsValueExists("categories\\Technik", "Epsilon"));
    EXPECT_EQ(ReadSettingInteger("categories\\MODE", "Kleinkram", -1), 0);
    Find<QPushButton>("btnOk")->click();
    EXPECT_EQ(ReadSettingInteger("categories\\Technik", "Delta", -1), 0);
    EXPECT_EQ(ReadSettingInteger("categories\\Technik", "Epsilon", -1), 0);
    EXPECT_EQ(ReadSettingInteger("categories\\Mode", "Alpha", -1), 0);
    EXPECT_FALSE(SettingsValueExists("categories\\Mode", "Kleinkram"));
    EXPECT_FALSE(SettingsValueExists("categories\\Mode", "Beta"));

    // The shops' update button: up to date; a failed refresh says so, with the reason.
    Open();
    Send("btnUpdateShops");
    Server->Stop();
    Send("btnUpdateShops");
    ASSERT_EQ(Warnings.size(), 2);
    EXPECT_EQ(Warnings[0], "Aktualisieren|Shops aktualisiert");
    EXPECT_TRUE(Warnings[1].startsWith("Aktualisieren|Die Shops konnten nicht aktualisiert werden.\r\n"))
        << Warnings[1].toStdString();
    EXPECT_FALSE(Warnings[1].contains("Shops aktualisiert"));
    EXPECT_TRUE(Warnings[1].contains(Main->Program().LastRefreshError()));
    EXPECT_FALSE(Main->Program().LastRefreshError().isEmpty());
    EXPECT_EQ(Find<TCheckListBox>("lbxCategories")->count(), 3); // the catalogue stays
}

TEST_F(SettingsTest, WithoutACatalogueBothListsStayEmpty) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    Main = std::make_unique<TfrmQuorvantis>(QStringList{"quorvantis"});
    ASSERT_TRUE(WaitStarted(*Main));
    Open();
    EXPECT_EQ(Find<TCheckListBox>("lbxCategories")->count(), 0);
    EXPECT_EQ(Find<TCheckListBox>("lbxCategories")->ItemIndex(), -1);
    EXPECT_EQ(Find<TCheckListBox>("lbxShops")->count(), 0);
    EXPECT_FALSE(Find<QTabWidget>("pcSettings")->isTabVisible(4));
}

TEST_F(SettingsTest, HidingShopsIsDroppedByCancelAndStoredAndShownByOkInOneRebuild) {
    Start();
    QAction* SettingsEntry = nullptr;
    for (QAction* Action : Main->TrayMenu()->actions())
        if (ShownCaption(Action->text()) == "Einstellungen")
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

    // Cancel drops the choice: nothing stored, the menu as it was, and so after a rebuild.
    const int Builds = Main->MenuBuilds();
    Find<QPushButton>("btnCancel")->click();
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_FALSE(SettingsKeyExists("categories\\Technik"));
    EXPECT_EQ(Main->MenuBuilds(), Builds);
    Main->BuildMenu();
    Menu.clear();
    Entries(Main->TrayMenu(), Menu);
    EXPECT_TRUE(Menu.contains("Delta") && Menu.contains("Epsilon"));

    // Ok stores it and rebuilds the menu once.
    SettingsEntry->trigger();
    ClickLine(Categories, 2);
    EXPECT_EQ(States(Categories), "Mode2 Sport2 Technik2");
    ClickBox(Categories, 2);
    Find<QPushButton>("btnOk")->click();
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(Main->MenuBuilds(), Builds + 2);
    EXPECT_EQ(ReadSettingInteger("categories\\Technik", "Delta", -1), 0);
    EXPECT_EQ(ReadSettingInteger("categories\\Technik", "Epsilon", -1), 0);
    Menu.clear();
    Entries(Main->TrayMenu(), Menu);
    EXPECT_FALSE(Menu.contains("Delta") || Menu.contains("Epsilon"));
    EXPECT_TRUE(Menu.contains("Alpha") && Menu.contains("Zeta"));
}

TEST_F(SettingsTest, LanguageCancelReopenAndAutostart) {
    Start(false);
    WriteSettingString("", "email", "stored@example.de");
    (void)frmEditFavorites(Main->Program()); // another open window that must follow the language
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
    EXPECT_EQ(ShownCaption(Main->TrayMenu()->actions().value(Main->TrayMenu()->actions().size() - 4)->text()),
              "Settings");

    // Escape: back to the language of the opening, everywhere, and stored.
    QTest::keyClick(Dialog, Qt::Key_Escape);
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(CurrentLanguage, 0);
    EXPECT_EQ(ReadSettingInteger("", "language", -1), 0);
    EXPECT_EQ(ExistingEditFavorites()->windowTitle(), txtEditFavoritesCaption.In(0));
    EXPECT_EQ(ShownCaption(Main->TrayMenu()->actions().value(Main->TrayMenu()->actions().size() - 4)->text()),
              "Einstellungen");

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
    Send("btnGetNewsletter");
    NewsEmail->setText("kunde@beispiel.de");
    Send("btnGetNewsletter");
    EXPECT_EQ(FeedbackEmail->text(), "kunde@beispiel.de");
    EXPECT_EQ(GameEmail->text(), "other@example.de");
    EXPECT_EQ(ReadSettingString("", "email", ""), "kunde@beispiel.de");

    // Feedback: the placeholder is no text; the subject goes in the language shown.
    auto* Memo = Find<QPlainTextEdit>("edtFeedback");
    Send("btnSendFeedback");
    Find<QRadioButton>("rdbLanguageEnglish")->click();
    Find<QRadioButton>("rdbFeedbackType1")->click();
    QTest::mouseClick(Memo->viewport(), Qt::LeftButton);
    EXPECT_EQ(Memo->toPlainText(), "");
    const QString Feedback = QString::fromUtf8("Preise & Co. #1\nÄrger über Öl\n\nEnde");
    Memo->setPlainText(Feedback);
    Send("btnSendFeedback");

    // Sweepstakes: the address is stored before the wrong answer is refused.
    Find<QRadioButton>("rdbLanguageGerman")->click();
    const QStringList Values = {"Jürgen", "Müller & Söhne", "Hauptstraße 1", "12345", "Köln"};
    const char* const Fields[] = {"edtPrename", "edtName", "edtStreet", "edtPLZ", "edtCity"};
    for (int I = 0; I < 5; ++I)
        Find<QLineEdit>(Fields[I])->setText(Values[I]);
    Find<QLineEdit>("edtCity")->clear();
    Send("btnGewinnspiel");
    Find<QLineEdit>("edtCity")->setText("Köln");
    GameEmail->setText("spieler@example.de");
    Find<QRadioButton>("rdbAnswer1")->click();
    Send("btnGewinnspiel");
    EXPECT_EQ(ReadSettingString("", "email", ""), "spieler@example.de");
    Find<QRadioButton>("rdbAnswer2")->click();
    Send("btnGewinnspiel");
    Find<QCheckBox>("cbxAccept")->setChecked(true);
    Send("btnGewinnspiel");

    EXPECT_EQ(Warnings, QStringList({
                            "Email Adresse ungültig|Bitte geben Sie eine gültige Email Adresse ein!",
                            "Kein Text angegeben|Bitte geben Sie einen Feedback Text an!",
                            "Gewinnspiel|Bitte füllen Sie alle Felder aus, um am Gewinnspiel teilzunehmen!",
                            "Gewinnspiel|Bitte beantworten Sie die Frage richtig, um am Gewinnspiel teilzunehmen!",
                            "Gewinnspiel|Bitte akzeptieren Sie die Teilnahmebedinungen!",
                        }));
    // A success is information, not a warning.
    EXPECT_EQ(Infos, QStringList({
                         "Newsletter|Daten gespeichert!",
                         "Feedback|Feedback sent!",
                         "Gewinnspiel|Sie nehmen nun am Gewinnspiel teil!",
                     }));
    EXPECT_TRUE(ReadSettingBool("", "newsletter", false));
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

    // The server refuses (404): the user is told, the browser gets the request, the log names
    // where it failed, and the cancellation is not taken as done.
    Warnings.clear();
    Infos.clear();
    const QString Base = Server->BaseURL();
    WriteSettingString("", "server", Base + "/gone");
    Find<QRadioButton>("rdbDelete")->click();
    Send("btnGetNewsletter");
    ASSERT_EQ(Browser.Opened(1).size(), 1);
    EXPECT_TRUE(Browser.Opened(1)[0].startsWith(Base + "/gone/newsletter.php?ref="))
        << Browser.Opened(1)[0].toStdString();
    EXPECT_EQ(Warnings,
              QStringList{"Newsletter|Der Server hat die Daten nicht angenommen (HTTP/1.1 404 Not Found). Die "
                          "Anfrage wurde stattdessen in Ihrem Browser geöffnet."});
    EXPECT_TRUE(Infos.isEmpty());
    EXPECT_TRUE(ReadSettingBool("", "newsletter", false)) << "the refused cancellation is not stored";
    EXPECT_TRUE(Env.HasLogLine("ERROR|SendNewsletter: " + Base + "/gone/newsletter.php: HTTP/1.1 404 Not Found"))
        << Env.LogLines().join("\n").toStdString();

    // Server down: the same, with the connection's failure as the cause.
    WriteSettingString("", "server", Base);
    Server->Stop();
    Warnings.clear();
    Send("btnSendFeedback");
    const QStringList Opened = Browser.Opened(2);
    ASSERT_EQ(Opened.size(), 2);
    EXPECT_TRUE(Opened[1].startsWith(Base + "/feedback.php?ref=" + QString::number(Main->Ref()) +
                                     "&email=kunde%40beispiel.de&subject=Shop%20vorschlagen&feedback="))
        << Opened[1].toStdString();
    ASSERT_EQ(Warnings.size(), 1);
    EXPECT_TRUE(Warnings[0].startsWith("Feedback|Der Server hat die Daten nicht angenommen ("))
        << Warnings[0].toStdString();
    EXPECT_TRUE(Env.LogLines().filter("|ERROR|SendFeedback: " + Base + "/feedback.php: ").size() == 1)
        << Env.LogLines().join("\n").toStdString();
    EXPECT_FALSE(Env.LogLines().join("\n").contains("kunde%40beispiel.de")) << "the user's data stays out of the log";
    EXPECT_TRUE(Infos.isEmpty());
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
    // A link added meanwhile through the menu's "Neuer Link..." joins the list.
    ASSERT_TRUE(Main->Program().AddLink({"Zeitung", "http://zeitung.example", 0}));
    ASSERT_EQ(List->topLevelItemCount(), 2);
    EXPECT_EQ(Links.GetNames(), QStringList{"Zeitung"}); // "Wetter" waits for Ok

    // Renaming onto another link's name asks; No keeps both as they were.
    List->setCurrentItem(List->topLevelItem(0));
    Answers = {false};
    WithEditor([](QLineEdit* Title, QLineEdit*, QPushButton* Save) {
        Title->setText("Zeitung");
        Save->click();
    });
    Edit->click();
    EXPECT_EQ(Questions.size(), 1);
    EXPECT_EQ(List->topLevelItem(0)->text(0), "Wetter");
    EXPECT_EQ(List->topLevelItem(1)->text(0), "Zeitung");

    // A rename keeps the link and its icon; the store and the menu have it after Ok.
    WithEditor([](QLineEdit* Title, QLineEdit*, QPushButton* Save) {
        Title->setText("Wetterbericht");
        Save->click();
    });
    Edit->click();
    EXPECT_EQ(List->topLevelItem(0)->text(0), "Wetterbericht");
    EXPECT_EQ(Links.GetNames(), QStringList{"Zeitung"});
    const int Builds = Main->MenuBuilds();
    Find<QPushButton>("btnOk")->click();
    EXPECT_EQ(Main->MenuBuilds(), Builds + 1);
    EXPECT_EQ(Links.GetNames(), QStringList({"Wetterbericht", "Zeitung"}));
    QMap<QString, QIcon> Menu;
    Entries(Main->TrayMenu(), Menu);
    ASSERT_TRUE(Menu.contains("Wetterbericht"));
    EXPECT_FALSE(Menu.contains("Wetter"));
    const QImage Expected = LoadIconFile(LinkIconFile("Wetterbericht")).pixmap(16, 16).toImage();
    EXPECT_FALSE(Expected.isNull());
    EXPECT_EQ(Menu["Wetterbericht"].pixmap(16, 16).toImage(), Expected);

    // Delete asks once with the name; No changes nothing, Yes removes it from the list.
    Open();
    List->setCurrentItem(List->topLevelItem(1));
    Questions.clear();
    Answers = {false, true};
    Find<QPushButton>("btnDeletePersonalLink")->click();
    EXPECT_EQ(List->topLevelItemCount(), 2);
    Find<QPushButton>("btnDeletePersonalLink")->click();
    EXPECT_EQ(Questions, QStringList(2, "Löschen bestätigen|Soll der Eintrag \"Zeitung\" wirklich gelöscht werden?"));
    EXPECT_EQ(List->topLevelItemCount(), 1);

    // Open takes the address from the links, not from the cell.
    Find<QPushButton>("btnCallPersonalLink")->click();
    EXPECT_EQ(Browser.Opened(1), QStringList{"http://wetter.example"});

    // Cancel drops the deletion: store and menu keep the link, and nothing is rebuilt.
    Find<QPushButton>("btnCancel")->click();
    EXPECT_EQ(Main->MenuBuilds(), Builds + 1);
    EXPECT_EQ(Links.GetNames(), QStringList({"Wetterbericht", "Zeitung"}));
    Menu.clear();
    Entries(Main->TrayMenu(), Menu);
    EXPECT_TRUE(Menu.contains("Zeitung"));

    // Deleted and confirmed with Ok: gone from store and menu, which no longer opens it.
    Open();
    List->setCurrentItem(List->topLevelItem(1));
    Answers = {true};
    Find<QPushButton>("btnDeletePersonalLink")->click();
    Find<QPushButton>("btnOk")->click();
    EXPECT_EQ(Links.GetNames(), QStringList{"Wetterbericht"});
    Menu.clear();
    Entries(Main->TrayMenu(), Menu);
    EXPECT_FALSE(Menu.contains("Zeitung"));
    EXPECT_TRUE(Menu.contains("Wetterbericht"));
}

TEST_F(SettingsTest, ABoxToggledByKeyIsStoredForItsLineWhateverIsSelected) {
    Start();
    Open();
    auto* Categories = Find<TCheckListBox>("lbxCategories");
    auto* Shops = Find<TCheckListBox>("lbxShops");
    ASSERT_EQ(States(Shops), "Alpha2 Beta2 Gamma2 Kleinkram2");

    // Tabbed in: the current line is not selected; Space unticks it, and that is stored.
    Shops->clearSelection();
    Shops->setCurrentRow(1, QItemSelectionModel::NoUpdate);
    Shops->setFocus();
    ASSERT_EQ(Shops->ItemIndex(), -1);
    QTest::keyClick(Shops, Qt::Key_Space);
    EXPECT_FALSE(Chosen("Mode", "Beta"));
    EXPECT_EQ(Shops->ItemIndex(), 1);
    EXPECT_EQ(States(Categories), "Mode1 Sport2 Technik2");

    // The current line away from the selected one: Space means the current one.
    Shops->setCurrentRow(2, QItemSelectionModel::NoUpdate);
    ASSERT_EQ(Shops->ItemIndex(), 1);
    QTest::keyClick(Shops, Qt::Key_Space);
    EXPECT_FALSE(Chosen("Mode", "Gamma"));
    EXPECT_TRUE(Chosen("Mode", "Alpha"));

    // The same in the category list: Sport is unticked by key while Mode stays selected.
    Categories->setCurrentRow(1, QItemSelectionModel::NoUpdate);
    Categories->setFocus();
    QTest::keyClick(Categories, Qt::Key_Space);
    EXPECT_FALSE(Chosen("Sport", "Zeta"));
    EXPECT_EQ(States(Shops), "Zeta0");

    // Ok keeps the choices: the menu lacks exactly those shops.
    Find<QPushButton>("btnOk")->click();
    QMap<QString, QIcon> Menu;
    Entries(Main->TrayMenu(), Menu);
    EXPECT_FALSE(Menu.contains("Beta") || Menu.contains("Gamma") || Menu.contains("Zeta"));
    EXPECT_TRUE(Menu.contains("Alpha") && Menu.contains("Kleinkram"));
}

TEST_F(SettingsTest, AShopWithoutCategoryIsHiddenAndShownAgain) {
    Start(true, R"(<shops><shop id="1" name="Solo" site="{BASE}/sites/kleiderwolke"/>)"
                R"(<shop id="2" name="Alpha" site="{BASE}/sites/kleiderwolke" category="Mode"/></shops>)");
    Open();
    auto* Categories = Find<TCheckListBox>("lbxCategories");
    auto* Shops = Find<TCheckListBox>("lbxShops");
    ASSERT_EQ(States(Categories), "2 Mode2");
    ClickLine(Categories, 0);
    ASSERT_EQ(States(Shops), "Solo2");
    ClickBox(Shops, 0);
    EXPECT_FALSE(Chosen("", "Solo"));
    EXPECT_EQ(States(Categories), "0 Mode2");
    Find<QPushButton>("btnOk")->click();
    QMap<QString, QIcon> Menu;
    Entries(Main->TrayMenu(), Menu);
    EXPECT_FALSE(Menu.contains("Solo"));

    Open();
    ClickLine(Categories, 0);
    ClickBox(Shops, 0);
    EXPECT_TRUE(Chosen("", "Solo"));
    EXPECT_EQ(States(Categories), "2 Mode2");
    Find<QPushButton>("btnOk")->click();
    Menu.clear();
    Entries(Main->TrayMenu(), Menu);
    EXPECT_TRUE(Menu.contains("Solo"));
    EXPECT_TRUE(Env.LogLines().filter("|ERROR|").isEmpty()) << Env.LogLines().join('\n').toStdString();
}

TEST_F(SettingsTest, EveryShopOfModeModeAndMODEIsListedAndCanBeHiddenAndShown) {
    Start(true, R"(<shops><shop id="1" name="Anna" category="Mode"/><shop id="2" name="Berta" category="mode"/>)"
                R"(<shop id="3" name="Carla" category="MODE"/><shop id="4" name="Dora" category="Sport"/></shops>)");
    Open();
    auto* Categories = Find<TCheckListBox>("lbxCategories");
    auto* Shops = Find<TCheckListBox>("lbxShops");
    ASSERT_EQ(States(Categories), "Mode2 Sport2");
    ClickLine(Categories, 0);
    ASSERT_EQ(States(Shops), "Anna2 Berta2 Carla2");
    const QStringList Names = {"Anna", "Berta", "Carla"};
    for (int Row = 0; Row < 3; ++Row) {
        ClickBox(Shops, Row);
        EXPECT_FALSE(Chosen("Mode", Names[Row])) << Names[Row].toStdString();
    }
    EXPECT_EQ(States(Categories), "Mode0 Sport2");
    Find<QPushButton>("btnOk")->click();
    QMap<QString, QIcon> Menu;
    Entries(Main->TrayMenu(), Menu);
    for (const QString& Name : Names)
        EXPECT_FALSE(Menu.contains(Name)) << Name.toStdString();
    EXPECT_TRUE(Menu.contains("Dora"));

    // Shown again one by one, by line and box.
    Open();
    ClickLine(Categories, 0);
    EXPECT_EQ(States(Shops), "Anna0 Berta0 Carla0");
    for (int Row = 0; Row < 3; ++Row)
        ClickBox(Shops, Row);
    EXPECT_EQ(States(Categories), "Mode2 Sport2");
    Find<QPushButton>("btnOk")->click();
    Menu.clear();
    Entries(Main->TrayMenu(), Menu);
    for (const QString& Name : Names)
        EXPECT_TRUE(Menu.contains(Name)) << Name.toStdString();
    // A double click opens the shop of the line, whatever its spelling of the category.
    Open();
    ClickLine(Categories, 0);
    ClickLine(Shops, 2);
    Q_EMIT Shops->itemDoubleClicked(Shops->item(2));
    ASSERT_EQ(Browser.Opened(1).size(), 1);
    EXPECT_TRUE(Browser.Opened()[0].startsWith(Server->BaseURL() + "/shop.php?id=3&"))
        << Browser.Opened()[0].toStdString();
}

TEST_F(SettingsTest, LinkNamesStayAsWrittenAndRefusalsSayWhyAtOnce) {
    Start();
    Open();
    auto* List = Find<QTreeWidget>("lbxPersonalLinks");
    auto Add = [&](const QString& Name, const QString& Address) {
        WithEditor([Name, Address](QLineEdit* Title, QLineEdit* URL, QPushButton* Save) {
            Title->setText(Name);
            URL->setText(Address);
            Save->click();
        });
        Find<QPushButton>("btnAddPersonalLink")->click();
    };
    const QString Long = "Sehr" + QString(93, 'l') + "ang"; // as long as the editor takes
    for (const QString& Name : {QString("a/b"), QString(".."), QString("x_y"), QString("-"), Long})
        Add(Name, "http://" + QString::number(Name.size()) + ".example");
    EXPECT_TRUE(Warnings.isEmpty()) << Warnings.join('\n').toStdString();
    QStringList Shown;
    for (int I = 0; I < List->topLevelItemCount(); ++I)
        Shown << List->topLevelItem(I)->text(0);
    EXPECT_EQ(Shown, QStringList({"-", "..", "a/b", Long, "x_y"}));

    // Refused at once, with the reason; nothing is stored.
    Add("x\\y", "http://backslash.example");
    Add("Optionen", "-n");
    Add("Hilfe", " --help");
    const QString Editor = txtEditFavoritesCaption.In(0) + "|";
    EXPECT_EQ(Warnings, QStringList({Editor + txtLinkNameBackslash.In(0), Editor + txtAddressStartsWithDash.In(0),
                                     Editor + txtAddressStartsWithDash.In(0)}))
        << Warnings.join('\n').toStdString();
    EXPECT_EQ(List->topLevelItemCount(), 5);

    // In the menu: every name as written, "-" the line that groups links, the long one shortened.
    Find<QPushButton>("btnOk")->click();
    QMenu* Links = nullptr;
    for (QAction* Action : Main->TrayMenu()->actions())
        if (Action->objectName() == "miPersonalLinks")
            Links = Action->menu();
    ASSERT_NE(Links, nullptr);
    QStringList Entries;
    for (QAction* Action : Links->actions())
        Entries << (Action->isSeparator() ? QString("---") : ShownCaption(Action->text()));
    ASSERT_EQ(Entries.size(), 7) << Entries.join('|').toStdString();
    EXPECT_EQ(Entries.mid(0, 3), QStringList({"---", "..", "a/b"}));
    EXPECT_EQ(Entries[4], "x_y");
    EXPECT_LE(Entries[3].size(), 80);
    EXPECT_TRUE(Entries[3].startsWith("Sehrlll") && Entries[3].endsWith("llang") && Entries[3].contains(QChar(0x2026)));
}

TEST_F(SettingsTest, TheAutostartBoxSaysLoginInBothLanguages) {
    Start(false);
    Open();
    auto* Box = Find<QCheckBox>("cbxAutoStart");
    EXPECT_EQ(Box->text(), "Beim A&nmelden starten");
    EXPECT_FALSE(Box->toolTip().contains("Windows"));
    EXPECT_TRUE(Box->toolTip().contains("Anmeldung"));
    Find<QRadioButton>("rdbLanguageEnglish")->click();
    EXPECT_EQ(Box->text(), "Start at lo&gin");
    EXPECT_FALSE(Box->toolTip().contains("Windows"));
    EXPECT_TRUE(Box->toolTip().contains("log in"));
    Find<QRadioButton>("rdbLanguageGerman")->click();
}

TEST_F(SettingsTest, CharactersTheServerCannotCarryAreRefusedBeforeAnythingIsSent) {
    Start();
    Open();
    auto* NewsEmail = Find<QLineEdit>("edtEmail");
    NewsEmail->setText(QString::fromUtf8("łukasz+x@example.pl"));
    Find<QPushButton>("btnGetNewsletter")->click();
    ASSERT_EQ(Warnings.size(), 1);
    EXPECT_EQ(Warnings[0], "Newsletter|" + txtUnsendableCharacters.In(0).arg(QString::fromUtf8("„ł“")));
    EXPECT_EQ(NewsEmail->text(), QString::fromUtf8("łukasz+x@example.pl")) << "kept as typed";
    EXPECT_EQ(ReadSettingString("", "email", "none"), "none") << "nothing stored";

    auto* Memo = Find<QPlainTextEdit>("edtFeedback");
    QTest::mouseClick(Memo->viewport(), Qt::LeftButton);
    const QString Text = QString::fromUtf8("Grüße, 20 € – aber → und 😀 und → wieder");
    Memo->setPlainText(Text);
    Find<QLineEdit>("edtFeedbackEmail")->setText("kunde@example.de");
    Find<QPushButton>("btnSendFeedback")->click();
    ASSERT_EQ(Warnings.size(), 2);
    EXPECT_EQ(Warnings[1], "Feedback|" + txtUnsendableCharacters.In(0).arg(QString::fromUtf8("„→“, „😀“")));
    EXPECT_EQ(Memo->toPlainText(), Text);
    EXPECT_TRUE(Server->Records().isEmpty()) << "nothing reached the server";
    EXPECT_TRUE(Browser.Opened().isEmpty());

    // What windows-1252 holds goes through unchanged.
    Memo->setPlainText(QString::fromUtf8("Grüße, 20 € – Ende"));
    NewsEmail->setText("lukasz+x@example.pl");
    Send("btnSendFeedback");
    Send("btnGetNewsletter");
    const QList<QJsonObject> Records = Server->Records();
    ASSERT_EQ(Records.size(), 2);
    EXPECT_EQ(Records[0]["query"].toObject()["feedback"].toString(), QString::fromUtf8("Grüße, 20 € – Ende"));
    EXPECT_EQ(Records[1]["query"].toObject()["email"].toString(), "lukasz+x@example.pl");
}

TEST_F(SettingsTest, LinksAreDrawnInTheLinkColourOfTheTheme) {
    const QPalette Saved = qApp->palette();
    QPalette Dark = Saved;
    Dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    Dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    Dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    Dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    Dark.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
    qApp->setPalette(Dark);
    Start();
    Open();
    ShowInfo(Main->Program());
    ShowSearch(Main->Program());
    std::vector<std::pair<QWidget*, QPalette::ColorRole>> Links = {
        {Find<QLabel>("labWebsite"), QPalette::WindowText},
        {Find<QLabel>("lblAccept1"), QPalette::WindowText},
        {ExistingAbout()->findChild<QLabel*>("labCopyright"), QPalette::WindowText},
        {ExistingSearch()->findChild<QWidget*>("listResult"), QPalette::Text}};
    for (const auto& [Widget, Role] : Links) {
        ASSERT_NE(Widget, nullptr);
        const QLabel* Label = qobject_cast<QLabel*>(Widget);
        const QColor Drawn = Widget->palette().color(Label ? Label->foregroundRole() : Role);
        EXPECT_EQ(Drawn, QColor(0x8a, 0xb4, 0xf8)) << Widget->objectName().toStdString();
    }
    delete ExistingAbout();
    delete ExistingSearch();
    qApp->setPalette(Saved);
}

} // namespace

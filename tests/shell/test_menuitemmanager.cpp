#include "TestSupport.h"
#include "uConst.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uTImageList.h"
#include "uTMenuItemManager.h"
#include "uTURLMenuItem.h"
#include "uUIHooks.h"

#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSet>
#include <gtest/gtest.h>

namespace {

class MenuItemManagerTest : public ::testing::Test {
protected:
    TTempEnvironment Env;
    TMenuItemManager Links{QStringLiteral("favorites")};
    QStringList Questions;
    bool Answer = false;

    void SetUp() override {
        UIHooks().AskYesNo = [this](const QString& Caption, const QString& Text) {
            Questions << Caption + "|" + Text;
            return Answer;
        };
    }
    void TearDown() override { UIHooks().AskYesNo = nullptr; }

    TURLItem Loaded(const QString& Name) const {
        TURLItem Item{Name, {}, 0};
        Links.Load(Item);
        return Item;
    }
};

TEST_F(MenuItemManagerTest, LoadSaveDeleteAndNames) {
    EXPECT_TRUE(Links.GetNames().isEmpty());
    TURLItem Empty;
    EXPECT_FALSE(Links.Load(Empty));
    TURLItem Missing = Loaded("nothing");
    EXPECT_TRUE(Missing.URL.isEmpty());
    EXPECT_EQ(Missing.Icon, 0);

    Links.Save({"Wetter", "http://wetter.example", 9});
    Links.Save({"alpha", "http://a.example", 0});
    Links.Save({"NoURL", "", 0}); // ignored: no address
    EXPECT_EQ(Links.GetNames(), QStringList({"alpha", "Wetter"}));
    EXPECT_EQ(Loaded("Wetter").URL, "http://wetter.example");
    EXPECT_EQ(Loaded("Wetter").Icon, 9);

    EXPECT_TRUE(Links.Delete("Wetter"));
    EXPECT_FALSE(Links.Delete("Wetter"));
    EXPECT_FALSE(Links.Delete(""));
    EXPECT_EQ(Links.GetNames(), QStringList({"alpha"}));
}

TEST_F(MenuItemManagerTest, AddAsksBeforeOverwriting) {
    EXPECT_FALSE(Links.Add({"", "http://x.example", 0}));
    EXPECT_FALSE(Links.Add({"x", "", 0}));
    EXPECT_TRUE(Links.Add({"Wetter", "http://old.example", 8}));
    EXPECT_TRUE(Questions.isEmpty());

    Answer = false;
    EXPECT_FALSE(Links.Add({"Wetter", "http://new.example", 0}));
    ASSERT_EQ(Questions.size(), 1);
    EXPECT_EQ(Questions[0], "Quorvantis|" + txtNameExists());
    EXPECT_EQ(Loaded("Wetter").URL, "http://old.example");
    EXPECT_EQ(Loaded("Wetter").Icon, 8);

    Answer = true;
    EXPECT_TRUE(Links.Add({"wetter", "http://new.example", 0})) << "names ignore case";
    EXPECT_EQ(Questions.size(), 2);
    EXPECT_EQ(Loaded("Wetter").URL, "http://new.example");
    EXPECT_EQ(Links.GetNames().size(), 1);
}

TEST_F(MenuItemManagerTest, HostileNamesStaySingleKeysInsideTheLinkStore) {
    for (const QString& Name :
         {QStringLiteral("..\\x"), QStringLiteral("a/b"), QStringLiteral(".hidden"), QStringLiteral("c\\d\\e")})
        EXPECT_TRUE(Links.Add({Name, "http://" + QString::number(Name.size()) + ".example", 0}));
    QStringList Names = Links.GetNames();
    Names.sort();
    // Names are kept as written; only "\" (which the editor refuses) cannot be a key name.
    EXPECT_EQ(Names, QStringList({".._x", ".hidden", "a/b", "c_d_e"}));
    EXPECT_TRUE(GetSettingsKeyNames("favorites\\c").isEmpty()) << "no nested keys";
    EXPECT_TRUE(GetSettingsKeyNames("").filter("x").isEmpty()) << "nothing escaped the favorites key";
    EXPECT_EQ(Loaded("c\\d\\e").URL, "http://5.example") << "the raw name finds its key";
    EXPECT_TRUE(Links.Delete(".hidden"));
    EXPECT_EQ(Links.GetNames().size(), 3);
    EXPECT_FALSE(Links.GetNames().contains(".hidden"));
    // Their icon files: one per name, each directly in the icons folder, none hidden.
    QSet<QString> Files;
    for (const QString Name : {"..\\x", "../x", ".._x", "a/b", "a%2Fb", ".", "..", "%"}) {
        const QString File = LinkIconFile(Name);
        EXPECT_EQ(QFileInfo(File).absolutePath() + "/", IconsFolder()) << File.toStdString();
        EXPECT_FALSE(QFileInfo(File).fileName().startsWith('.')) << File.toStdString();
        Files.insert(File);
    }
    EXPECT_EQ(Files.size(), 8);
}

TEST_F(MenuItemManagerTest, ReplaceNeverLosesTheOldLink) {
    Links.Save({"Old", "http://old.example", 3});
    Links.Save({"Other", "http://other.example", 4});

    // Renamed onto another link, answered No: both stay as they were.
    Answer = false;
    EXPECT_FALSE(Links.Replace("Old", {"Other", "http://edited.example", 3}));
    EXPECT_EQ(Links.GetNames(), QStringList({"Old", "Other"}));
    EXPECT_EQ(Loaded("Old").URL, "http://old.example");
    EXPECT_EQ(Loaded("Other").URL, "http://other.example");

    // Same name: saved without a question.
    const auto Asked = Questions.size();
    EXPECT_TRUE(Links.Replace("Old", {"Old", "http://changed.example", 3}));
    EXPECT_EQ(Questions.size(), Asked);
    EXPECT_EQ(Loaded("Old").URL, "http://changed.example");

    // Only the case changes: one link under the new spelling.
    EXPECT_TRUE(Links.Replace("Old", {"OLD", "http://changed.example", 3}));
    EXPECT_EQ(Links.GetNames(), QStringList({"OLD", "Other"}));

    // A free new name: stored, old one gone.
    EXPECT_TRUE(Links.Replace("OLD", {"New", "http://new.example", 3}));
    EXPECT_EQ(Links.GetNames(), QStringList({"New", "Other"}));
    EXPECT_EQ(Loaded("New").Icon, 3);

    // Onto another link answered Yes: it is overwritten, the old name removed.
    Answer = true;
    EXPECT_TRUE(Links.Replace("New", {"Other", "http://new.example", 3}));
    EXPECT_EQ(Links.GetNames(), QStringList({"Other"}));
    EXPECT_EQ(Loaded("Other").URL, "http://new.example");

    EXPECT_FALSE(Links.Replace("Other", {"Other", "", 0})) << "an empty address is refused";
    EXPECT_EQ(Loaded("Other").URL, "http://new.example");
}

TEST_F(MenuItemManagerTest, FillMenuInsertsInNameOrderAtTheIndex) {
    const TImageList Images = TImageList::WithFixedPictures();
    Links.Save({"b", "http://b.example", 0});
    Links.Save({"a", "http://a.example", 0});
    Links.Save({"", "http://nameless.example", 0});
    QMenu Menu;
    Menu.addAction("first");
    Menu.addAction("last");
    FillLinksMenu(&Menu, Links, 1, Images);
    AddLinkMenuItem(&Menu, {"appended", "http://c.example", 2}, -1, Images);
    AddLinkMenuItem(&Menu, {"", "http://nameless.example", 0}, -1, Images);
    QStringList Texts;
    for (QAction* Action : Menu.actions())
        Texts << Action->text();
    EXPECT_EQ(Texts, QStringList({"first", "a", "b", "last", "appended"}));
}

} // namespace

TEST_F(MenuItemManagerTest, NewAddressDropsTheOldSitesIcon) {
    const QString IconFile = Env.InstallFolder() + "icons/Wetter.ico";
    WriteSettingString("", "install", Env.InstallFolder());
    Links.Save({"Wetter", "http://old.example", 9});
    WriteFileBytes(IconFile, "old site's icon");
    Links.Save({"Wetter", "http://old.example", 9}); // the icon loader rewrites the same address
    EXPECT_TRUE(QFile::exists(IconFile));
    EXPECT_EQ(Loaded("Wetter").Icon, 9);

    Answer = true;
    EXPECT_TRUE(Links.Replace("Wetter", {"Wetter", "http://new.example", 9}));
    EXPECT_FALSE(QFile::exists(IconFile)) << "fetched again from the new site";
    EXPECT_EQ(Loaded("Wetter").URL, "http://new.example");
    EXPECT_EQ(Loaded("Wetter").Icon, 0);
}

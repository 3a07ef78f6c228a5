#include "TestSupport.h"
#include "uErrors.h"
#include "uRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace {

// Child modes: the test executable runs itself with one of these in the environment.
const char* const ChildModeVariable = "QUORVANTIS_REGISTRY_CHILD";
const char* const ChildConfigVariable = "QUORVANTIS_REGISTRY_CONFIG";

class RegistryTest : public ::testing::Test {
protected:
    TTempEnvironment Env;

    QString StoreFolder() const { return Env.ConfigHome() + "/Quorvantis"; }
    QStringList DamagedFiles() const {
        return QDir(StoreFolder()).entryList({"registry.db.damaged-*"}, QDir::Files, QDir::Name);
    }
};

std::unique_ptr<QProcess> StartChild(const QString& Mode, const QString& ConfigHome) {
    auto P = std::make_unique<QProcess>();
    QProcessEnvironment E = QProcessEnvironment::systemEnvironment();
    E.insert(ChildModeVariable, Mode);
    E.insert(ChildConfigVariable, ConfigHome);
    P->setProcessEnvironment(E);
    P->setProgram(QCoreApplication::applicationFilePath());
    P->setArguments({"--gtest_filter=RegistryChild.DISABLED_Run", "--gtest_also_run_disabled_tests"});
    P->start();
    return P;
}

const QString ShopA = QStringLiteral("favorites\\Shop A");

} // namespace

TEST_F(RegistryTest, FreshInstallationReadsDefaultsUntilTheFirstLink) {
    EXPECT_EQ(ReadSettingInteger("", "debug", 1), 1);
    EXPECT_EQ(ReadSettingString("", "email", "none"), "none");
    EXPECT_TRUE(ReadSettingBool("", "autorun", true));
    EXPECT_FALSE(SettingsKeyExists(""));
    EXPECT_FALSE(SettingsValueExists("", "debug"));
    EXPECT_TRUE(GetSettingsKeyNames("").isEmpty());
    EXPECT_TRUE(GetSettingsKeyNames("favorites").isEmpty());
    EXPECT_FALSE(DeleteSettingsKey(ShopA));
    EXPECT_FALSE(DeleteSettingsValue("", "debug"));
    EXPECT_EQ(SettingsDatabaseFile(), Env.ConfigHome() + "/Quorvantis/registry.db");
    // The first link creates every key on its way.
    WriteSettingString(ShopA, "url", "http://a.example/");
    for (const QString Key : {"", "favorites", "favorites\\Shop A"})
        EXPECT_TRUE(SettingsKeyExists(Key)) << Key.toStdString();
    EXPECT_EQ(GetSettingsKeyNames(""), QStringList{"favorites"});
    EXPECT_EQ(GetSettingsKeyNames("favorites"), QStringList{"Shop A"});
    EXPECT_TRUE(GetSettingsKeyNames(ShopA).isEmpty());
    EXPECT_EQ(ReadSettingString(ShopA, "url", ""), "http://a.example/");
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBooleansAreTrueOnlyForOne) {
    const QString Text = QString::fromUtf8("Grüße \"aus\" München\r\nZeile 2 \xF0\x9F\x9B\x92");
    WriteSettingString("", "empty", "");
    WriteSettingString("", "text", Text);
    WriteSettingInteger("", "min", INT32_MIN);
    EXPECT_EQ(ReadSettingString("", "empty", "default"), ""); // an empty string is a value, not a missing one
    EXPECT_EQ(ReadSettingString("", "text", ""), Text);
    EXPECT_EQ(ReadSettingInteger("", "min", 0), INT32_MIN);
    EXPECT_THROW(ReadSettingInteger("", "text", 0), ESettingsError);
    EXPECT_THROW(ReadSettingBool("", "text", true), ESettingsError);
    EXPECT_THROW(ReadSettingString("", "min", ""), ESettingsError);
    WriteSettingInteger("", "text", 5); // writing the other type replaces the value
    EXPECT_EQ(ReadSettingInteger("", "text", 0), 5);

    // Booleans are integers, true only for 1.
    const struct {
        int Stored;
        bool Default, Expected;
    } Cases[] = {{2, true, false}, {-1, true, false}, {1, false, true}, {0, true, false}};
    for (const auto& C : Cases) {
        WriteSettingInteger("", "autorun", C.Stored);
        EXPECT_EQ(ReadSettingBool("", "autorun", C.Default), C.Expected) << C.Stored;
    }
    WriteSettingBool("", "autorun", true);
    EXPECT_EQ(ReadSettingInteger("", "autorun", 0), 1);
}

TEST_F(RegistryTest, DeletingKeysAndValuesHitsOnlyTheirTarget) {
    WriteSettingInteger(ShopA, "icon", 3);
    WriteSettingString(ShopA + "\\deeper", "x", "y");
    // Neighbours whose names extend the deleted one, or sort right after the separator.
    for (const char* Name : {"Shop A2", "Shop A]", "Shop A-b"})
        WriteSettingString(QStringLiteral("favorites\\") + Name, "url", Name);

    EXPECT_TRUE(DeleteSettingsKey("FAVORITES\\shop a"));
    EXPECT_FALSE(SettingsKeyExists(ShopA + "\\deeper"));
    EXPECT_EQ(GetSettingsKeyNames("favorites"), (QStringList{"Shop A-b", "Shop A2", "Shop A]"}));
    EXPECT_FALSE(DeleteSettingsKey(ShopA));
    WriteSettingString(ShopA, "url", "new"); // recreating the key does not bring old values back
    EXPECT_FALSE(SettingsValueExists(ShopA, "icon"));

    // A link with an empty name must never stand for all links.
    EXPECT_THROW(WriteSettingString("favorites\\", "url", "x"), ESettingsError);
    EXPECT_THROW(WriteSettingString("favorites\\\\Shop A", "url", "x"), ESettingsError);
    EXPECT_FALSE(DeleteSettingsKey("favorites\\"));
    EXPECT_TRUE(SettingsKeyExists(ShopA));

    // Category texts are key names as they stand, "->" and all; the key outlives its values.
    const QString Key = QString::fromUtf8("categories\\Mode->Schuhe & Taschen (50%_Rabatt)");
    WriteSettingBool(Key, "Shop 'X'", false);
    EXPECT_TRUE(DeleteSettingsValue(Key, "shop 'x'"));
    EXPECT_FALSE(DeleteSettingsValue(Key, "Shop 'X'"));
    EXPECT_TRUE(SettingsKeyExists(Key));

    EXPECT_TRUE(DeleteSettingsKey(""));
    EXPECT_FALSE(SettingsValueExists("favorites\\Shop A2", "url"));
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveCasePreservingAndSorted) {
    WriteSettingString(QString::fromUtf8("Favorites\\Müller"), "URL", "m");
    WriteSettingString(QString::fromUtf8("favorites\\MÜLLER"), "Url", "m2");
    EXPECT_EQ(GetSettingsKeyNames(""), QStringList{"Favorites"});
    EXPECT_EQ(GetSettingsKeyNames("favorites"), QStringList{QString::fromUtf8("Müller")});
    EXPECT_EQ(ReadSettingString(QString::fromUtf8("favorites\\müller"), "uRl", ""), "m2");
    // Simple per-character mapping, as the registry does: ß never equals SS.
    WriteSettingString(QString::fromUtf8("favorites\\Straße"), "url", "s");
    EXPECT_FALSE(SettingsKeyExists("favorites\\STRASSE"));
    EXPECT_TRUE(SettingsKeyExists(QString::fromUtf8("FAVORITES\\STRAßE")));

    DeleteSettingsKey("");
    for (const char* Name : {"beta", "Zulu", "_under", "Alpha", "\xC3\xA4lter", "10", "alpha2"})
        WriteSettingInteger(QStringLiteral("favorites\\") + QString::fromUtf8(Name), "icon", 0);
    // Ordered by the upper-cased names: digits, letters, "_" after "Z", then non-ASCII.
    EXPECT_EQ(GetSettingsKeyNames("favorites"),
              (QStringList{"10", "Alpha", "alpha2", "beta", "Zulu", "_under", QString::fromUtf8("\xC3\xA4lter")}));
}

TEST_F(RegistryTest, InstallFolderEndsInASlash) {
    EXPECT_EQ(DefaultInstallFolder(), Env.InstallFolder());
    EXPECT_EQ(GetInstallFolder(), Env.InstallFolder());
    EXPECT_FALSE(SettingsValueExists("", "install")); // reading the default writes nothing
    const std::pair<QString, QString> Cases[] = {
        {"/opt/tools", "/opt/tools/"}, {"/opt/tools/", "/opt/tools/"}, {"", Env.InstallFolder()}};
    for (const auto& [Stored, Expected] : Cases) {
        WriteSettingString("", "install", Stored);
        EXPECT_EQ(GetInstallFolder(), Expected) << Stored.toStdString();
    }
}

TEST_F(RegistryTest, UnusableLocationsGiveDefaultsAndFailedWrites) {
    QDir().mkpath(SettingsDatabaseFile()); // a folder where the file belongs
    EXPECT_EQ(ReadSettingInteger("", "debug", 1), 1);
    EXPECT_FALSE(SettingsKeyExists(""));
    EXPECT_THROW(WriteSettingInteger("", "debug", 2), ESettingsError);
    EXPECT_FALSE(DeleteSettingsKey("favorites"));

    WriteFileBytes(Env.Root() + "/plain", "x");
    qputenv("XDG_CONFIG_HOME", (Env.Root() + "/plain/config").toUtf8());
    EXPECT_EQ(ReadSettingString("", "email", "d"), "d");
    EXPECT_TRUE(GetSettingsKeyNames("").isEmpty());
    try {
        WriteSettingString("", "email", "a@b.de");
        FAIL() << "write below a regular file succeeded";
    } catch (const ESettingsError& E) {
        EXPECT_TRUE(E.Message().contains("email")) << E.Message().toStdString();
    }
}

TEST_F(RegistryTest, ReadTransactionSharesOneSnapshot) {
    WriteSettingInteger("", "n", 1);
    auto WriteFromOtherThread = [](int Value) { std::thread([Value] { WriteSettingInteger("", "n", Value); }).join(); };
    {
        TSettingsReadTransaction Outer;
        EXPECT_EQ(ReadSettingInteger("", "n", 0), 1); // the snapshot begins with the first read
        WriteFromOtherThread(2);
        { TSettingsReadTransaction Inner; }
        EXPECT_EQ(ReadSettingInteger("", "n", 0), 1); // the inner end did not end the snapshot
        WriteSettingInteger("", "m", 5);              // committed at once, as its own transaction
        int SeenElsewhere = 0;
        std::thread([&] { SeenElsewhere = ReadSettingInteger("", "m", 0); }).join();
        EXPECT_EQ(SeenElsewhere, 5);
    }
    EXPECT_EQ(ReadSettingInteger("", "n", 0), 2);
    WriteFromOtherThread(3);
    EXPECT_EQ(ReadSettingInteger("", "n", 0), 3); // no cache outside a transaction
}

TEST_F(RegistryTest, WriteTransactionLandsWholeOnCommitAndNotAtAllWithout) {
    WriteSettingInteger("categories\\Mode", "Alpha", 0);
    auto ReadElsewhere = [](const QString& Key, const QString& Name) {
        int Value = -1;
        std::thread([&] { Value = ReadSettingInteger(Key, Name, -1); }).join();
        return Value;
    };
    {
        TSettingsWriteTransaction Writes; // given up: nothing of it lands
        WriteSettingInteger("categories\\Mode", "Beta", 0);
        DeleteSettingsValue("categories\\Mode", "Alpha");
        EXPECT_EQ(ReadSettingInteger("categories\\Mode", "Beta", -1), 0); // this thread sees its writes
    }
    EXPECT_EQ(ReadSettingInteger("categories\\Mode", "Alpha", -1), 0);
    EXPECT_FALSE(SettingsValueExists("categories\\Mode", "Beta"));
    {
        TSettingsReadTransaction Reads; // a read snapshot open around it is taken up again
        EXPECT_EQ(ReadSettingInteger("categories\\Mode", "Alpha", -1), 0);
        TSettingsWriteTransaction Writes;
        WriteSettingInteger("categories\\Mode", "Beta", 0);
        WriteSettingString("favorites\\Wetter", "url", "http://wetter.example");
        DeleteSettingsValue("categories\\Mode", "Alpha");
        EXPECT_EQ(ReadElsewhere("categories\\Mode", "Beta"), -1); // not before the commit
        Writes.Commit();
        EXPECT_EQ(ReadElsewhere("categories\\Mode", "Beta"), 0);
        EXPECT_FALSE(SettingsValueExists("categories\\Mode", "Alpha"));
    }
    EXPECT_EQ(ReadSettingString("favorites\\Wetter", "url", ""), "http://wetter.example");
    WriteSettingInteger("", "after", 1); // on its own again
    EXPECT_EQ(ReadElsewhere("", "after"), 1);
}

TEST_F(RegistryTest, AutostartEntryIsWrittenAndRemoved) {
    const QString File = AutostartFileName("Quorvantis");
    EXPECT_EQ(File, Env.ConfigHome() + "/autostart/Quorvantis.desktop");
    SetAutostart("Quorvantis", "/opt/quorvantis/bin/quorvantis", false); // nothing there: no error, nothing made
    EXPECT_FALSE(QFileInfo::exists(Env.ConfigHome() + "/autostart"));

    SetAutostart("Quorvantis", "/opt/My Apps/quorvantis", true);
    EXPECT_EQ(ReadFileBytes(File), QByteArray("[Desktop Entry]\n"
                                              "Type=Application\n"
                                              "Name=Quorvantis\n"
                                              "Exec=\"/opt/My Apps/quorvantis\"\n"
                                              "X-GNOME-Autostart-enabled=true\n"
                                              "X-GNOME-Autostart-Delay=5\n"
                                              "X-KDE-autostart-after=panel\n"
                                              "X-LXQt-Need-Tray=true\n"));
    // Quoting characters are escaped inside the quotes, then backslashes once more
    // for the string value, and % is doubled so it is no field code.
    SetAutostart("Quorvantis", "/tmp/a\"b`c$d\\e%f", true);
    EXPECT_TRUE(ReadFileBytes(File).split('\n').contains("Exec=\"/tmp/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e%%f\""));
    EXPECT_EQ(QDir(Env.ConfigHome() + "/autostart").entryList(QDir::Files), QStringList{"Quorvantis.desktop"});

    // Each start sets the entry again: an unchanged one stays the same file, one the
    // user edited is put back.
    const auto Inode = [&File] {
        struct stat St {};
        ::stat(QFile::encodeName(File).constData(), &St);
        return St.st_ino;
    };
    const auto Before = Inode();
    SetAutostart("Quorvantis", "/tmp/a\"b`c$d\\e%f", true);
    EXPECT_EQ(Inode(), Before);
    const QByteArray Written = ReadFileBytes(File);
    WriteFileBytes(File, QByteArray(Written).replace("enabled=true", "enabled=fals"));
    SetAutostart("Quorvantis", "/tmp/a\"b`c$d\\e%f", true);
    EXPECT_EQ(ReadFileBytes(File), Written);

    SetAutostart("Quorvantis", "/opt/quorvantis", false);
    EXPECT_FALSE(QFileInfo::exists(File));

    qputenv("XDG_CONFIG_HOME", (File + "/below-a-file").toUtf8());
    WriteFileBytes(File, "x");
    SetAutostart("Quorvantis", "/opt/quorvantis", true); // returns quietly
}

// ---- damaged database files -----------------------------------------------------

TEST_F(RegistryTest, GarbageFileIsMovedAsideAndAFreshStoreStarted) {
    const QByteArray Garbage = QByteArray("this is no database at all\n").repeated(300);
    QDir().mkpath(StoreFolder());
    WriteFileBytes(SettingsDatabaseFile(), Garbage);
    WriteFileBytes(SettingsDatabaseFile() + "-wal", "wal garbage");

    EXPECT_EQ(ReadSettingInteger("", "debug", 1), 1);
    const QStringList Aside = DamagedFiles();
    ASSERT_EQ(Aside.size(), 2) << Aside.join(", ").toStdString(); // the file and its -wal
    EXPECT_EQ(ReadFileBytes(StoreFolder() + "/" + Aside.at(0)), Garbage);
    EXPECT_TRUE(Aside.at(1).endsWith("-wal"));

    WriteSettingInteger("", "debug", 2);
    EXPECT_EQ(ReadSettingInteger("", "debug", 1), 2);
    EXPECT_TRUE(ReadFileBytes(SettingsDatabaseFile()).startsWith("SQLite format 3"));

    const QStringList Log = Env.LogLines();
    ASSERT_EQ(Log.size(), 1) << Log.join("\n").toStdString();
    EXPECT_TRUE(Log.at(0).contains("|ERROR|Settings store: the damaged database")) << Log.at(0).toStdString();
    EXPECT_TRUE(Log.at(0).contains(Aside.at(0)));
}

TEST_F(RegistryTest, DatabaseWithDamagedPagesIsMovedAside) {
    // Fill the store from a thread of its own: its connection closes when it ends,
    // which folds the journal into the main file.
    std::thread([] {
        for (int I = 0; I < 300; ++I)
            WriteSettingString(QStringLiteral("favorites\\Shop %1").arg(I), "url", QString(60, QChar('u')));
    }).join();
    QByteArray Bytes = ReadFileBytes(SettingsDatabaseFile());
    ASSERT_GT(Bytes.size(), 4 * 4096);
    for (qsizetype I = 4096; I < Bytes.size(); ++I)
        Bytes[I] = static_cast<char>(0xA5);
    WriteFileBytes(SettingsDatabaseFile(), Bytes); // rewritten in place: intact header, damaged pages

    EXPECT_EQ(ReadSettingString("favorites\\Shop 1", "url", "gone"), "gone");
    const QStringList Aside = DamagedFiles().filter(QRegularExpression("-\\d{6}$")); // without -wal, -shm
    EXPECT_EQ(Aside.size(), 1) << DamagedFiles().join(", ").toStdString();
    EXPECT_EQ(Env.LogLines().size(), 1);
    WriteSettingString("favorites\\Shop 1", "url", "new");
    EXPECT_EQ(GetSettingsKeyNames("favorites"), QStringList{"Shop 1"});
}

// ---- concurrency and crashes ------------------------------------------------------

namespace {
QString ValueName(int I) {
    return QStringLiteral("v%1").arg(I % 250);
}
QString BlockKey(const QString& Writer, int I) {
    return Writer + QStringLiteral("\\b%1").arg(I / 250);
}
int CountMissing(const QString& Writer, const QList<int>& Indexes) {
    TSettingsReadTransaction Snapshot;
    int Missing = 0;
    for (int I : Indexes)
        Missing += ReadSettingInteger(BlockKey(Writer, I), ValueName(I), -1) != I;
    return Missing;
}
QList<int> UpTo(int Count) {
    QList<int> Result(Count);
    std::iota(Result.begin(), Result.end(), 0);
    return Result;
}
} // namespace

// Not a test of its own (hence disabled): the body of the child processes started below.
TEST(RegistryChild, DISABLED_Run) {
    const QByteArray Mode = qgetenv(ChildModeVariable);
    ASSERT_FALSE(Mode.isEmpty()) << "runs only as a child process";
    qputenv("XDG_CONFIG_HOME", qgetenv(ChildConfigVariable));
    if (Mode == "writer") {
        for (int I = 0; I < 3000; ++I) {
            WriteSettingInteger(BlockKey("proc", I), ValueName(I), I);
            ASSERT_EQ(ReadSettingInteger(BlockKey("proc", I), ValueName(I), -1), I);
            const int Other = ReadSettingInteger(BlockKey("t0", I), ValueName(I), -1);
            ASSERT_TRUE(Other == -1 || Other == I);
        }
    } else if (Mode == "victim") {
        for (int I = 0; I < 200000; ++I) {
            WriteSettingInteger(BlockKey("kill", I), ValueName(I), I);
            std::printf("COMMITTED %d\n", I);
            std::fflush(stdout);
        }
    }
}

TEST_F(RegistryTest, TwoThreadsAndAProcessLoseNothing) {
    const std::unique_ptr<QProcess> Child = StartChild("writer", Env.ConfigHome());
    ASSERT_TRUE(Child->waitForStarted());
    std::atomic<bool> ChildDone{false};
    std::mutex FailureLock;
    QStringList Failures; // "database is locked" would land here
    int Written[2] = {0, 0};

    auto Worker = [&](int N) {
        const QString Me = QStringLiteral("t%1").arg(N), Other = QStringLiteral("t%1").arg(1 - N);
        int I = 0;
        try {
            // Keep going until the child is done, so all three really overlap.
            for (; (I < 2000 || !ChildDone) && I < 20000; ++I) {
                WriteSettingInteger(BlockKey(Me, I), ValueName(I), I);
                const int Own = ReadSettingInteger(BlockKey(Me, I), ValueName(I), -1);
                const int Seen = ReadSettingInteger(BlockKey(Other, I / 2), ValueName(I / 2), -1);
                if (Own != I || (Seen != -1 && Seen != I / 2))
                    throw ESettingsError(QStringLiteral("%1: own %2, foreign %3").arg(I).arg(Own).arg(Seen));
                GetSettingsKeyNames(Me);
            }
        } catch (const std::exception& E) {
            std::lock_guard L(FailureLock);
            Failures.append(QString::fromUtf8(E.what()));
        }
        Written[N] = I;
    };
    std::thread A(Worker, 0), B(Worker, 1);
    const bool Finished = Child->waitForFinished(50000); // inside the test's own 60 s
    ChildDone = true;
    A.join();
    B.join();

    ASSERT_TRUE(Finished);
    const QByteArray Output = Child->readAllStandardOutput();
    EXPECT_EQ(Child->exitCode(), 0) << Output.toStdString() << Child->readAllStandardError().toStdString();
    EXPECT_TRUE(Output.contains("[  PASSED  ] 1 test"));
    EXPECT_TRUE(Failures.isEmpty()) << Failures.join("\n").toStdString();
    EXPECT_GE(Written[0], 2000);
    EXPECT_EQ(CountMissing("t0", UpTo(Written[0])), 0);
    EXPECT_EQ(CountMissing("t1", UpTo(Written[1])), 0);
    EXPECT_EQ(CountMissing("proc", UpTo(3000)), 0);
}

// The first writers of a store that does not exist yet all turn it to WAL at once;
// none of them may be turned away with "database is locked".
TEST_F(RegistryTest, ThreadsStartingANewStoreTogetherAllWrite) {
    QStringList Failures;
    std::mutex FailureLock;
    for (int Round = 0; Round < 60 && Failures.isEmpty(); ++Round) {
        const QString Home = Env.ConfigHome() + QStringLiteral("/round%1").arg(Round);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Home));
        std::atomic<int> Ready{0};
        std::vector<std::thread> Writers;
        for (int N = 0; N < 4; ++N)
            Writers.emplace_back([&, N] {
                // Start together, so the first opens really overlap.
                ++Ready;
                while (Ready < 4)
                    std::this_thread::yield();
                try {
                    WriteSettingInteger(QStringLiteral("t%1").arg(N), "v", N);
                } catch (const std::exception& E) {
                    std::lock_guard L(FailureLock);
                    Failures.append(QString::fromUtf8(E.what()));
                }
            });
        for (std::thread& W : Writers)
            W.join();
        for (int N = 0; N < 4 && Failures.isEmpty(); ++N)
            EXPECT_EQ(ReadSettingInteger(QStringLiteral("t%1").arg(N), "v", -1), N) << "round " << Round;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(Env.ConfigHome()));
    EXPECT_TRUE(Failures.isEmpty()) << Failures.join("\n").toStdString();
}

TEST_F(RegistryTest, KilledWriterLeavesEveryCommittedValue) {
    const std::unique_ptr<QProcess> Child = StartChild("victim", Env.ConfigHome());
    ASSERT_TRUE(Child->waitForStarted());
    QList<int> Committed;
    while (Committed.size() < 600 && Child->state() == QProcess::Running) {
        Child->waitForReadyRead(1000);
        while (Child->canReadLine()) {
            const QByteArray Line = Child->readLine().trimmed();
            if (Line.startsWith("COMMITTED "))
                Committed.append(Line.mid(10).toInt());
        }
    }
    Child->kill(); // SIGKILL in the middle of the stream
    Child->waitForFinished();
    ASSERT_GE(Committed.size(), 600);
    EXPECT_EQ(Child->exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(CountMissing("kill", Committed), 0);
    EXPECT_TRUE(DamagedFiles().isEmpty());
    WriteSettingInteger("", "after", 1);
    EXPECT_EQ(ReadSettingInteger("", "after", 0), 1);
}

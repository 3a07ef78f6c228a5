#include "TestSupport.h"
#include "uFormatSettings.h"
#include "uRegistry.h"
#include "uTLogger.h"
#include "uUIHooks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedFormat = ShortDateFormat();
        FSavedHook = UIHooks().ShowLogMessage;
        UIHooks().ShowLogMessage = [this](const QString& Line) {
            Boxes.append(Line);
            BoxThreads.append(QThread::currentThread());
        };
    }
    void TearDown() override {
        UIHooks().ShowLogMessage = FSavedHook;
        SetShortDateFormat(FSavedFormat);
    }

    // Labels and texts of the written lines.
    QStringList Written() const {
        QStringList Result;
        for (const QString& Line : Env.LogLines())
            Result.append(Line.section('|', 1));
        return Result;
    }
    QStringList BoxTexts() const {
        QStringList Result;
        for (const QString& Line : Boxes)
            Result.append(Line.section('|', 1));
        return Result;
    }

    TTempEnvironment Env;
    QStringList Boxes;
    QList<QThread*> BoxThreads;

private:
    QString FSavedFormat;
    std::function<void(const QString&)> FSavedHook;
};

void LogAllLevels(TLogger& Logger) {
    Logger.Error("e");
    Logger.Info("i");
    Logger.Debug("d");
    Logger.Log(TLogger::llStep, "s");
}

} // namespace

TEST_F(LoggerTest, TimestampUsesTheShortDateFormatAndDropsMidnight) {
    SetShortDateFormat("dd.MM.yyyy");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(QDate(2006, 12, 24), QTime(14, 5, 9))), "24.12.2006 14:05:09");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(QDate(2006, 12, 24), QTime(0, 0, 0))), "24.12.2006");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(QDate(2006, 12, 24), QTime(0, 0, 0, 1))), "24.12.2006 00:00:00");
    SetShortDateFormat("yyyy-MM-dd");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(QDate(2006, 12, 24), QTime(9, 0, 7))), "2006-12-24 09:00:07");
}

TEST_F(LoggerTest, LineFormatIsExact) {
    SetShortDateFormat("yyyy-MM-dd");
    TLogger Logger(TLogger::llError, true, "Quorvantis");
    EXPECT_EQ(Logger.FileName(), Env.InstallFolder() + "Quorvantis.log");
    EXPECT_FALSE(QFileInfo::exists(Env.InstallFolder())); // the first line makes folder and file
    Logger.Error(QString::fromUtf8("Müller|two\nlines"));
    const QByteArray Bytes = ReadFileBytes(Logger.FileName());
    const QRegularExpression Pattern(
        QString::fromUtf8("^\\d{4}-\\d\\d-\\d\\d( \\d\\d:\\d\\d:\\d\\d)?\\|ERROR\\|Müller\\|two\nlines\r\n$"));
    EXPECT_TRUE(Pattern.match(QString::fromUtf8(Bytes)).hasMatch()) << Bytes.toStdString();
    Logger.Error("next");
    EXPECT_EQ(Env.LogLines().size(), 2);
    EXPECT_TRUE(Env.LogLines().at(1).endsWith("|ERROR|next"));
}

TEST_F(LoggerTest, ThresholdFromTheStoredDebugValue) {
    {
        TLogger Logger("Quorvantis"); // `debug` absent: errors only
        EXPECT_EQ(Logger.Level(), TLogger::llError);
        Logger.Error("e");
        Logger.Info("i");
        Logger.Debug("d");
        EXPECT_EQ(Written(), QStringList{"ERROR|e"});
    }
    const struct {
        int Debug;
        QStringList Lines;
        QStringList Boxes;
    } Cases[] = {
        {-1, {}, {}},
        {0, {}, {}},
        {2, {"ERROR|e", "INFO|i"}, {}},
        {3, {"ERROR|e", "INFO|i", "DEBUG|d", "STEP|s"}, {"STEP|s"}},
        {4, {"ERROR|e", "INFO|i", "DEBUG|d", "STEP|s"}, {"ERROR|e", "INFO|i", "DEBUG|d", "STEP|s"}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Debug);
        WriteSettingInteger("", "debug", Case.Debug);
        Boxes.clear();
        TLogger Logger(-1, false, "Quorvantis");
        LogAllLevels(Logger);
        EXPECT_EQ(Written(), Case.Lines);
        EXPECT_EQ(BoxTexts(), Case.Boxes);
    }
    Boxes.clear();
    TLogger Logger(TLogger::llStep, false, "Quorvantis");
    for (int Level : {0, 5, -1})
        Logger.Log(Level, "never");
    EXPECT_FALSE(QFileInfo::exists(Logger.FileName()));
    EXPECT_TRUE(Boxes.isEmpty());
}

TEST_F(LoggerTest, StoredDebugOutsideTheRangeIsClamped) {
    EXPECT_EQ(TLogger::LevelFromSetting(-7), -1);
    EXPECT_EQ(TLogger::LevelFromSetting(2), 2);
    EXPECT_EQ(TLogger::LevelFromSetting(99), TLogger::llStep);
    WriteSettingInteger("", "debug", 300); // would wrap to 44 in an 8-bit cast
    EXPECT_EQ(TLogger("Quorvantis").Level(), TLogger::llStep);
    WriteSettingInteger("", "debug", -200);
    EXPECT_EQ(TLogger("Quorvantis").Level(), -1);
}

TEST_F(LoggerTest, UnreadableDebugFallsBackToErrors) {
    WriteSettingString("", "debug", "3");
    TLogger Logger("Quorvantis");
    EXPECT_EQ(Logger.Level(), TLogger::llError);
    Logger.Error("still logging");
    EXPECT_EQ(Written(), QStringList{"ERROR|still logging"});
}

TEST_F(LoggerTest, AppendKeepsAndClearDeletes) {
    TLogger(TLogger::llError, true, "Quorvantis").Error("first");
    TLogger(TLogger::llError, true, "Quorvantis").Error("second");
    EXPECT_EQ(Written(), (QStringList{"ERROR|first", "ERROR|second"}));
    TLogger Fresh(TLogger::llError, false, "Quorvantis");
    EXPECT_FALSE(QFileInfo::exists(Fresh.FileName()));
    Fresh.Error("third");
    EXPECT_EQ(Written(), QStringList{"ERROR|third"});
    Fresh.Clear();
    EXPECT_FALSE(QFileInfo::exists(Fresh.FileName()));
}

TEST_F(LoggerTest, UnwritableFolderIsSwallowed) {
    WriteFileBytes(Env.Root() + "/plain", "x");
    WriteSettingString("", "install", Env.Root() + "/plain/install");
    TLogger Logger(TLogger::llDebug, false, "Quorvantis");
    EXPECT_EQ(Logger.FileName(), Env.Root() + "/plain/install/Quorvantis.log");
    Logger.Error("lost");
    Logger.Debug("lost too");
    Logger.Clear();
    EXPECT_EQ(ReadFileBytes(Env.Root() + "/plain"), "x");
}

TEST_F(LoggerTest, ConcurrentLinesStayWhole) {
    TLogger Logger(TLogger::llInfo, true, "Quorvantis");
    constexpr int Threads = 8, Lines = 500;
    const QString Padding(300, QChar('x'));
    std::vector<std::thread> Workers;
    for (int T = 0; T < Threads; ++T)
        Workers.emplace_back([&, T] {
            for (int I = 0; I < Lines; ++I)
                Logger.Info(QStringLiteral("T%1 L%2 ").arg(T).arg(I) + Padding);
        });
    for (std::thread& W : Workers)
        W.join();

    const QStringList All = Env.LogLines();
    ASSERT_EQ(All.size(), Threads * Lines);
    const QRegularExpression Pattern("^[^|]+\\|INFO\\|T(\\d) L(\\d+) x{300}$");
    std::set<std::pair<int, int>> Seen;
    for (const QString& Line : All) {
        const auto Match = Pattern.match(Line);
        ASSERT_TRUE(Match.hasMatch()) << Line.toStdString();
        Seen.insert({Match.captured(1).toInt(), Match.captured(2).toInt()});
    }
    EXPECT_EQ(Seen.size(), size_t(Threads * Lines));
}

TEST_F(LoggerTest, StepLineOfAWorkerReachesTheHookOnTheMainThread) {
    TLogger Logger(TLogger::llDebug, true, "Quorvantis");
    // The worker must not wait for the box: it finishes before the main thread looks.
    std::thread([&] { Logger.Log(TLogger::llStep, "from the worker"); }).join();
    EXPECT_EQ(Written(), QStringList{"STEP|from the worker"});
    EXPECT_TRUE(Boxes.isEmpty());
    QElapsedTimer Timer;
    Timer.start();
    while (Boxes.isEmpty() && Timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(BoxTexts(), QStringList{"STEP|from the worker"});
    ASSERT_EQ(BoxThreads.size(), 1);
    EXPECT_EQ(BoxThreads.at(0), QCoreApplication::instance()->thread());
}

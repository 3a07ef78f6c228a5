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
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

namespace {

// Label and text of each line, without the timestamp.
QStringList Labelled(const QStringList& Lines) {
    QStringList Result;
    for (const QString& Line : Lines)
        Result.append(Line.section('|', 1));
    return Result;
}

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
    QStringList Written() const { return Labelled(Env.LogLines()); }

    TTempEnvironment Env;
    QStringList Boxes;
    QList<QThread*> BoxThreads;

private:
    QString FSavedFormat;
    std::function<void(const QString&)> FSavedHook;
};

} // namespace

TEST_F(LoggerTest, TimestampUsesTheShortDateFormatAndDropsMidnight) {
    const QDate Day(2006, 12, 24);
    SetShortDateFormat("dd.MM.yyyy");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(Day, QTime(14, 5, 9))), "24.12.2006 14:05:09");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(Day, QTime(0, 0))), "24.12.2006");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(Day, QTime(0, 0, 0, 1))), "24.12.2006 00:00:00");
    SetShortDateFormat("yyyy-MM-dd");
    EXPECT_EQ(TLogger::FormatTimestamp(QDateTime(Day, QTime(9, 0, 7))), "2006-12-24 09:00:07");
}

TEST_F(LoggerTest, LineFormatAppendAndClear) {
    SetShortDateFormat("yyyy-MM-dd");
    TLogger Logger(TLogger::llError, true, "Quorvantis");
    EXPECT_EQ(Logger.FileName(), Env.InstallFolder() + "Quorvantis.log");
    EXPECT_FALSE(QFileInfo::exists(Env.InstallFolder())); // the first line makes folder and file
    Logger.Error(QString::fromUtf8("Müller|two\nlines"));
    const QByteArray Bytes = ReadFileBytes(Logger.FileName());
    const QRegularExpression Pattern(
        QString::fromUtf8("^\\d{4}-\\d\\d-\\d\\d( \\d\\d:\\d\\d:\\d\\d)?\\|ERROR\\|Müller\\|two\nlines\r\n$"));
    EXPECT_TRUE(Pattern.match(QString::fromUtf8(Bytes)).hasMatch()) << Bytes.toStdString();
    TLogger(TLogger::llError, true, "Quorvantis").Error("second");
    EXPECT_EQ(Env.LogLines().size(), 2);
    TLogger Fresh(TLogger::llError, false, "Quorvantis");
    EXPECT_FALSE(QFileInfo::exists(Fresh.FileName()));
    Fresh.Error("third");
    EXPECT_EQ(Written(), QStringList{"ERROR|third"});
    Fresh.Clear();
    EXPECT_FALSE(QFileInfo::exists(Fresh.FileName()));
}

TEST_F(LoggerTest, ThresholdFromTheStoredDebugValue) {
    const QStringList All{"ERROR|e", "INFO|i", "DEBUG|d", "STEP|s"};
    const struct {
        std::optional<int> Debug; // none: the value is absent
        QStringList Lines, Boxes;
    } Cases[] = {{std::nullopt, {"ERROR|e"}, {}},
                 {-200, {}, {}},
                 {0, {}, {}},
                 {2, {"ERROR|e", "INFO|i"}, {}},
                 {3, All, {"STEP|s"}},
                 {4, All, All},
                 {300, All, All}}; // 300 is clamped, not wrapped to 44
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Debug.value_or(-999));
        if (Case.Debug)
            WriteSettingInteger("", "debug", *Case.Debug);
        Boxes.clear();
        TLogger Logger(-1, false, "Quorvantis");
        Logger.Error("e");
        Logger.Info("i");
        Logger.Debug("d");
        Logger.Log(TLogger::llStep, "s");
        EXPECT_EQ(Written(), Case.Lines);
        EXPECT_EQ(Labelled(Boxes), Case.Boxes);
    }
    WriteSettingString("", "debug", "3"); // unreadable: errors only
    EXPECT_EQ(TLogger("Quorvantis").Level(), TLogger::llError);

    Boxes.clear();
    TLogger Logger(TLogger::llStep, false, "Quorvantis");
    for (int Level : {0, 5, -1})
        Logger.Log(Level, "never");
    EXPECT_FALSE(QFileInfo::exists(Logger.FileName()));
    EXPECT_TRUE(Boxes.isEmpty());
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
    auto Text = [](int T, int I) { return QStringLiteral("T%1 L%2 ").arg(T).arg(I) + QString(300, QChar('x')); };
    QSet<QString> Expected;
    std::vector<std::thread> Workers;
    for (int T = 0; T < 8; ++T) {
        for (int I = 0; I < 500; ++I)
            Expected.insert("INFO|" + Text(T, I));
        Workers.emplace_back([&, T] {
            for (int I = 0; I < 500; ++I)
                Logger.Info(Text(T, I));
        });
    }
    for (std::thread& W : Workers)
        W.join();
    const QStringList All = Written();
    ASSERT_EQ(All.size(), 8 * 500);
    EXPECT_EQ((Expected - QSet<QString>(All.begin(), All.end())).size(), 0); // every line whole, none lost
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
    EXPECT_EQ(Labelled(Boxes), QStringList{"STEP|from the worker"});
    ASSERT_EQ(BoxThreads.size(), 1);
    EXPECT_EQ(BoxThreads.at(0), QCoreApplication::instance()->thread());
}

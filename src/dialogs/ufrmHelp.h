#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class TProgram;
class QPushButton;
class QStatusBar;
class QTextBrowser;

// The help window: a short introduction and the help document of the current
// language, read from its RTF file with our own reader.
class TfrmHelp final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHelp(TProgram& Program, QWidget* Parent = nullptr);
    Q_DISABLE_COPY_MOVE(TfrmHelp)

    // Re-labels the window and loads the document of the current language.
    void ApplyLanguage();
    // Shows the RTF file Path, or the missing-file text when it cannot be read or
    // is larger than MaxDocumentBytes. Events are served while it reads, so a
    // signal ends the program at once; a load asked for meanwhile is dropped.
    void LoadDocument(const QString& Path);
    // Our documents have a few kilobytes; a megabyte is room for any help text.
    static constexpr qint64 MaxDocumentBytes = 1 << 20;
    // Where the help document of the current language is found ("" when nowhere): the
    // first one that is not too large; Skipped hears of each one passed over.
    static QString DocumentPath(const std::function<void(const QString&)>& Skipped = {});

protected:
    void keyPressEvent(QKeyEvent* Event) override;

private:
    TProgram& FProgram;
    QLabel* imgTop;
    QLabel* labTitle;
    QLabel* labText;
    QTextBrowser* rdtHelp;
    QPushButton* btnClose;
    QStatusBar* pnlStatusBar;
    bool FLoading = false;
};

// The help window when it exists (for ApplyLanguage), else nullptr.
TfrmHelp* ExistingHelp();

// Shows the help window with the document of the current language.
void ShowHelp(TProgram& Program);

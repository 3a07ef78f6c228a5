#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class TProgram;
class TWebPanel;

// The "Style Voting" window: the vendor's voting page in the embedded browser,
// a fresh one at every opening and every "&Nächste Seite"; the lists of the best
// and worst rated styles open in the user's browser. German in both languages.
class TfrmStyleVoting final : public QWidget {
    Q_OBJECT
public:
    // Follows the program's language.
    explicit TfrmStyleVoting(TProgram& Program);
    explicit TfrmStyleVoting(QWidget* Parent = nullptr);
    Q_DISABLE_COPY_MOVE(TfrmStyleVoting)

    // Nothing to translate; present so every window is treated alike.
    void ApplyLanguage();
    void LoadPage(const QString& Address);
    void btnRefreshClick();
    void btnTopsClick();
    void btnFlopsClick();

    TWebPanel& Browser() const { return *panelBrowser; }

protected:
    void hideEvent(QHideEvent* Event) override;

private:
    QLabel* imgTop;
    QLabel* lblVoteYourStyle;
    QPushButton* btnFlops;
    QPushButton* btnTops;
    QPushButton* btnRefresh;
    TWebPanel* panelBrowser;
};

// Creates the window when needed, shows it and loads a voting page.
void ShowStyleVoting(TProgram& Program);
// The style voting window when it exists, else nullptr.
TfrmStyleVoting* ExistingStyleVoting();

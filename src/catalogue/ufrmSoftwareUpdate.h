#pragma once

#include "uTUpdateVersion.h"

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

// The software update window: tells the version verdict and offers to download
// and start the installer the catalogue names. Created once at start (it opens by
// itself when the running version is below the required one), then only shown
// and closed.
class TfrmSoftwareUpdate final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSoftwareUpdate(QWidget* Parent = nullptr);
    Q_DISABLE_COPY_MOVE(TfrmSoftwareUpdate)

    // The creation handler: asks for a verdict and opens the window for state 2.
    void FormCreate();
    // Shows the window for State; ForceButton offers the installer in every state.
    void ShowState(UpdateState State, bool ForceButton);
    void ApplyLanguage();

    UpdateState State() const { return FState; }
    bool ForceButton() const { return FForceButton; }

protected:
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void btnUpdateClick();
    void btnCloseClick();
    void FitToTexts();

    QLabel* imgTop;
    QLabel* labTitle;
    QLabel* labText;
    QProgressBar* prgDownload;
    QFrame* bvlLine;
    QPushButton* btnUpdate;
    QPushButton* btnClose;
    UpdateState FState = usUpToDate;
    bool FForceButton = false;
};

// Creates the window at program start (asks for a verdict and opens for state 2).
void CreateSoftwareUpdate();
// The window when it exists (for ApplyLanguage), else nullptr.
TfrmSoftwareUpdate* ExistingSoftwareUpdate();

// Shows the software update window for State. ForceButton offers the installer
// even when the program is up to date (Shift held at the click).
void ShowUpdates(UpdateState State, bool ForceButton);

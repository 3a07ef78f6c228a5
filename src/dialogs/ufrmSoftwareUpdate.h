#pragma once

#include "uTUpdateVersion.h"
#include "uUpdateDownload.h"

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class TProgram;

// The software update window: tells the version verdict and offers to download
// and start the installer the catalogue names. Created once at start (it opens by
// itself when the running version is below the required one), then only shown
// and closed. A download runs in the background with its progress and a Cancel
// button; closing the window cancels it, a failure is reported with its cause.
class TfrmSoftwareUpdate final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSoftwareUpdate(TProgram& Program, QWidget* Parent = nullptr);
    Q_DISABLE_COPY_MOVE(TfrmSoftwareUpdate)

    // The creation handler: asks for a verdict and opens the window for state 2.
    void FormCreate();
    // Shows the window for State; ForceButton offers the installer in every state.
    void ShowState(UpdateState State, bool ForceButton);
    void ApplyLanguage();

    UpdateState State() const { return FState; }
    bool ForceButton() const { return FForceButton; }
    bool IsDownloading() const { return FDownloading; }

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    void btnUpdateClick();
    void btnCloseClick();
    void btnCancelClick();
    void FitToTexts();
    void SetDownloading(bool Downloading);
    void DownloadFinished(const TUpdateResult& Result);
    void ShowProgress(qint64 SoFar, qint64 Expected);

    TProgram& FProgram;

    QLabel* imgTop;
    QLabel* labTitle;
    QLabel* labText;
    QLabel* labVersions;
    QProgressBar* prgDownload;
    QFrame* bvlLine;
    QPushButton* btnUpdate;
    QPushButton* btnClose;
    QPushButton* btnCancel;
    UpdateState FState = usUpToDate;
    bool FDownloading = false;
    bool FForceButton = false;
};

// Creates the window at program start (asks for a verdict and opens for state 2).
void CreateSoftwareUpdate(TProgram& Program);
// The window when it exists (for ApplyLanguage), else nullptr.
TfrmSoftwareUpdate* ExistingSoftwareUpdate();

// Shows the software update window for State. ForceButton offers the installer
// even when the program is up to date (Shift held at the click).
void ShowUpdates(TProgram& Program, UpdateState State, bool ForceButton);

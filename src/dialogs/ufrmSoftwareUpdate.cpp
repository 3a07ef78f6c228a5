#include "ufrmSoftwareUpdate.h"

#include "uAccessKeys.h"
#include "uBanner.h"
#include "uConst.h"
#include "uSharedWindow.h"
#include "uTLogger.h"
#include "uTProgram.h"
#include "uTools.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

constexpr int DesignWidth = 426;
constexpr int DesignHeight = 235;
constexpr int BannerHeight = 33;

using TSharedUpdateWindow = TSharedWindow<TfrmSoftwareUpdate>;

// The shared window; it is known as the shared one before its creation handler runs.
TfrmSoftwareUpdate& SharedUpdateWindow(TProgram& Program) {
    bool Made = false;
    TfrmSoftwareUpdate& Window = TSharedUpdateWindow::ObtainMade(Made, Program);
    if (Made)
        Window.FormCreate();
    return Window;
}

} // namespace

TfrmSoftwareUpdate::TfrmSoftwareUpdate(TProgram& Program, QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FProgram(Program) {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmSoftwareUpdate::ApplyLanguage);
    connect(&Program, &TProgram::DownloadBegun, this, [this](qint64 Expected) {
        // Without an announced length the bar only shows that something happens.
        prgDownload->setRange(0, static_cast<int>(qMin<qint64>(Expected, INT_MAX)));
        prgDownload->setValue(0);
    });
    connect(&Program, &TProgram::DownloadProgress, this, [this](qint64 SoFar, qint64) {
        if (prgDownload->maximum() > 0)
            prgDownload->setValue(static_cast<int>(qMin<qint64>(SoFar, prgDownload->maximum())));
    });
    connect(&Program, &TProgram::DownloadFinished, this, &TfrmSoftwareUpdate::DownloadFinished);
    setObjectName(QStringLiteral("frmSoftwareUpdate"));
    setFixedSize(DesignWidth, DesignHeight);

    imgTop = CreateBanner(this, DesignWidth, BannerHeight);

    labTitle = new QLabel(this);
    labTitle->setObjectName(QStringLiteral("labTitle"));
    labTitle->setTextFormat(Qt::PlainText);
    QFont Bold = labTitle->font();
    Bold.setBold(true);
    labTitle->setFont(Bold);
    labTitle->setGeometry(16, 56, 393, 20);

    labText = new QLabel(this);
    labText->setObjectName(QStringLiteral("labText"));
    labText->setTextFormat(Qt::PlainText);
    labText->setWordWrap(true);
    labText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labText->setGeometry(16, 84, 393, 45);

    prgDownload = new QProgressBar(this);
    prgDownload->setObjectName(QStringLiteral("prgDownload"));
    prgDownload->setGeometry(16, 158, 392, 17);
    prgDownload->setTextVisible(false);
    prgDownload->setValue(0);

    bvlLine = new QFrame(this);
    bvlLine->setObjectName(QStringLiteral("bvlLine"));
    bvlLine->setFrameShape(QFrame::HLine);
    bvlLine->setFrameShadow(QFrame::Sunken);
    bvlLine->setGeometry(16, 182, 392, 2);

    btnUpdate = new QPushButton(this);
    btnUpdate->setObjectName(QStringLiteral("btnUpdate"));
    btnUpdate->setGeometry(228, 200, 84, 25);
    btnUpdate->setDefault(true);
    btnClose = new QPushButton(this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(323, 200, 84, 25);
    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(228, 200, 84, 25);
    btnCancel->setVisible(false);
    setTabOrder(btnUpdate, btnCancel);
    setTabOrder(btnCancel, btnClose);
    connect(btnUpdate, &QPushButton::clicked, this, &TfrmSoftwareUpdate::btnUpdateClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSoftwareUpdate::btnCancelClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmSoftwareUpdate::btnCloseClick);
    ApplyLanguage();
}

void TfrmSoftwareUpdate::FormCreate() {
    // Opens by itself at start when the running version is below the required one. The start
    // has just tried the server; asking it again when that failed would only double the wait.
    FState = FProgram.GetUpdateState();
    if (FState == usRequiredVersion)
        ShowState(usRequiredVersion, false);
}

void TfrmSoftwareUpdate::ShowState(UpdateState State, bool ForceButton) {
    FForceButton = ForceButton;
    FState = State;
    ApplyLanguage();
    show();
    raise();
    activateWindow();
    // The update button is the default answer whenever it is offered.
    if (btnUpdate->isVisible()) {
        btnUpdate->setDefault(true);
        btnUpdate->setFocus();
    } else {
        btnClose->setFocus();
    }
}

void TfrmSoftwareUpdate::ApplyLanguage() {
    setWindowTitle(StripHotkey(txtSoftwareUpdate()));
    btnClose->setText(txtBtnClose());
    btnClose->setToolTip(txtBtnCloseHint());
    btnUpdate->setText(txtBtnUpdate());
    btnUpdate->setToolTip(txtBtnUpdateHint());
    btnCancel->setText(txtBtnCancel());
    btnCancel->setToolTip(txtBtnCancelHint());
    if (FDownloading) {
        AssignWidgetAccessKeys(*this);
        FitToTexts();
        return; // the running download keeps its bar and buttons
    }
    prgDownload->setValue(0);
    prgDownload->setAccessibleName(StripHotkey(txtSoftwareUpdate())); // the bar has no caption of its own

    const QString Prefix = QStringLiteral("Quorvantis: ");
    bool Show = FForceButton;
    switch (FState) {
    case usUpToDate:
        labTitle->setText(Prefix + txtNoNewVersion());
        labText->setText(txtNoNewVersionText());
        break;
    case usNewVersion:
    case usRequiredVersion:
    case usCheckOutdated:
        labTitle->setText(Prefix + txtNewVersion());
        labText->setText(txtNewVersionText());
        Show = true;
        break;
    default: // usError and anything unknown
        labTitle->setText(Prefix + txtVersionCheckError());
        labText->setText(txtTryLater());
        break;
    }
    btnUpdate->setVisible(Show);
    prgDownload->setVisible(Show);
    AssignWidgetAccessKeys(*this);
    FitToTexts();
}

void TfrmSoftwareUpdate::FitToTexts() {
    // The designed width fits a small Windows system font; with the wider Linux fonts a
    // long title would be clipped, so the window grows to the right and keeps its margins.
    constexpr int Margin = 16;
    const int Width = qMax(DesignWidth, labTitle->sizeHint().width() + 2 * Margin);
    if (Width == width())
        return;
    setFixedSize(Width, DesignHeight);
    imgTop->setGeometry(0, 0, Width, BannerHeight);
    imgTop->setPixmap(BannerPixmap(Width, BannerHeight, devicePixelRatioF()));
    labTitle->resize(Width - 2 * Margin, labTitle->height());
    labText->resize(Width - 2 * Margin - 1, labText->height());
    prgDownload->resize(Width - 2 * Margin - 2, prgDownload->height());
    bvlLine->resize(Width - 2 * Margin - 2, bvlLine->height());
    btnClose->move(Width - 19 - btnClose->width(), btnClose->y());
    btnUpdate->move(btnClose->x() - 11 - btnUpdate->width(), btnUpdate->y());
    btnCancel->move(btnUpdate->pos());
}

void TfrmSoftwareUpdate::btnUpdateClick() {
    if (FDownloading)
        return;
    bool Started = false;
    try {
        Started = FProgram.DownloadUpdate();
    } catch (const std::exception& E) {
        FProgram.Logger().Error(QStringLiteral("DownloadUpdate: ") + ExceptionMessage(E));
    }
    if (!Started) {
        close(); // nothing to download: the catalogue names no installer
        return;
    }
    SetDownloading(true);
}

void TfrmSoftwareUpdate::SetDownloading(bool Downloading) {
    FDownloading = Downloading;
    btnCancel->setVisible(Downloading);
    if (Downloading) {
        btnUpdate->setVisible(false);
        prgDownload->setRange(0, 0);
        btnCancel->setFocus();
        setCursor(Qt::BusyCursor); // this window only: the rest of the program stays usable
    } else {
        prgDownload->setRange(0, 100);
        unsetCursor();
        ApplyLanguage(); // the update button and bar as the state wants them
    }
}

void TfrmSoftwareUpdate::DownloadFinished(const TUpdateResult& Result) {
    if (!FDownloading)
        return;
    SetDownloading(false);
    if (Result.Cancelled) {
        close();
        return;
    }
    if (!Result.Downloaded) {
        // The window stays open, so the user can try again or close it.
        ShowWarning(StripHotkey(txtSoftwareUpdate()), Result.UserMessage);
        btnUpdate->setFocus();
        return;
    }
    if (!Result.UserMessage.isEmpty())
        ShowWarning(StripHotkey(txtSoftwareUpdate()), Result.UserMessage);
    close();
}

void TfrmSoftwareUpdate::btnCancelClick() {
    FProgram.CancelDownload();
}

void TfrmSoftwareUpdate::btnCloseClick() {
    close();
}

void TfrmSoftwareUpdate::closeEvent(QCloseEvent* Event) {
    // Closing the window is no reason to keep a half-loaded installer coming.
    if (FDownloading)
        FProgram.CancelDownload();
    QDialog::closeEvent(Event);
}

void TfrmSoftwareUpdate::keyPressEvent(QKeyEvent* Event) {
    // FormKeyDown: Escape acts as the close button.
    if (Event->key() == Qt::Key_Escape) {
        btnClose->click();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void CreateSoftwareUpdate(TProgram& Program) {
    try {
        SharedUpdateWindow(Program);
    } catch (const std::exception& E) {
        Program.Logger().Error(QStringLiteral("FormCreate: ") + ExceptionMessage(E));
    }
}

TfrmSoftwareUpdate* ExistingSoftwareUpdate() {
    return TSharedUpdateWindow::Existing();
}

void ShowUpdates(TProgram& Program, UpdateState State, bool ForceButton) {
    try {
        SharedUpdateWindow(Program).ShowState(State, ForceButton);
    } catch (const std::exception& E) {
        Program.Logger().Error(QStringLiteral("ShowUpdates: ") + ExceptionMessage(E));
    }
}

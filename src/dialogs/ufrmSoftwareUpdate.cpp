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
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

namespace {

constexpr int DesignWidth = 426;
constexpr int DesignHeight = 235;
constexpr int BannerHeight = 33;

const TLangText txtInstalledVersion{{"Installiert: Version %1", "Installed: version %1"}};
const TLangText txtOfferedVersion{{"angeboten: Version %1", "offered: version %1"}};
const TLangText txtUpdateRequired{{"Update erforderlich", "update required"}};
const TLangText txtUpdateOptional{{"Update freiwillig", "update optional"}};
const TLangText txtConnecting{{"Verbindung wird aufgebaut ...", "Connecting ..."}};
const TLangText txtProgress{{"%1 % (%2 von %3 MB)", "%1 % (%2 of %3 MB)"}};
const TLangText txtProgressUnknown{{"%1 MB geladen", "%1 MB loaded"}};
const TLangText txtUpdateStarted{
    {"Das Update wurde geladen und gestartet:\r\n%1", "The update was downloaded and started:\r\n%1"}};

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

// A window of its own, not a dialog type: the desktop keeps a parentless dialog above every
// other window of the program, so a window opened later from the menu would come up behind it.
TfrmSoftwareUpdate::TfrmSoftwareUpdate(TProgram& Program, QWidget* Parent)
    : QDialog(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FProgram(Program) {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmSoftwareUpdate::ApplyLanguage);
    connect(&Program, &TProgram::DownloadBegun, this, [this](qint64 Expected) { ShowProgress(0, Expected); });
    connect(&Program, &TProgram::DownloadProgress, this, &TfrmSoftwareUpdate::ShowProgress);
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

    // Which version is offered, and whether the user may skip it.
    labVersions = new QLabel(this);
    labVersions->setObjectName(QStringLiteral("labVersions"));
    labVersions->setTextFormat(Qt::PlainText);
    labVersions->setGeometry(16, 132, 393, 20);

    prgDownload = new QProgressBar(this);
    prgDownload->setObjectName(QStringLiteral("prgDownload"));
    prgDownload->setGeometry(16, 158, 392, 17);
    prgDownload->setTextVisible(true);
    prgDownload->setAlignment(Qt::AlignCenter);
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
    QString Versions = txtInstalledVersion().arg(QString::fromLatin1(ProgramVersion));
    const QString Offered = FProgram.Catalogue().Version;
    if (Show && !Offered.isEmpty())
        Versions += QStringLiteral(" \u2192 ") + txtOfferedVersion().arg(Offered);
    if (FState == usRequiredVersion)
        Versions += QStringLiteral(" (") + txtUpdateRequired() + QLatin1Char(')');
    else if (FState == usNewVersion || FState == usCheckOutdated)
        Versions += QStringLiteral(" (") + txtUpdateOptional() + QLatin1Char(')');
    labVersions->setText(Versions);
    btnUpdate->setVisible(Show);
    prgDownload->setVisible(Show);
    prgDownload->setFormat(QString());
    AssignWidgetAccessKeys(*this);
    FitToTexts();
}

void TfrmSoftwareUpdate::FitToTexts() {
    // The designed width fits a small Windows system font; with the wider Linux fonts a
    // long title would be clipped, so the window grows to the right and keeps its margins.
    constexpr int Margin = 16;
    const int Width =
        qMax(DesignWidth, qMax(labTitle->sizeHint().width(), labVersions->sizeHint().width()) + 2 * Margin);
    if (Width == width())
        return;
    setFixedSize(Width, DesignHeight);
    imgTop->setGeometry(0, 0, Width, BannerHeight);
    imgTop->setPixmap(BannerPixmap(Width, BannerHeight, devicePixelRatioF()));
    labTitle->resize(Width - 2 * Margin, labTitle->height());
    labText->resize(Width - 2 * Margin - 1, labText->height());
    labVersions->resize(Width - 2 * Margin - 1, labVersions->height());
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
        prgDownload->setFormat(txtConnecting());
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
    close();
    if (!Result.UserMessage.isEmpty())
        ShowWarning(StripHotkey(txtSoftwareUpdate()), Result.UserMessage);
    else
        ShowInformation(StripHotkey(txtSoftwareUpdate()), txtUpdateStarted().arg(Result.File));
}

void TfrmSoftwareUpdate::ShowProgress(qint64 SoFar, qint64 Expected) {
    // Without an announced length the bar only shows that something happens, and how much came.
    // Numbers written the way the window's language writes them ("1,5" in German).
    const QLocale Numbers(CurrentLanguage == 0 ? QLocale::German : QLocale::English);
    const auto MB = [&Numbers](qint64 Bytes) { return Numbers.toString(double(Bytes) / (1024 * 1024), 'f', 1); };
    if (Expected <= 0) {
        prgDownload->setRange(0, 0);
        prgDownload->setFormat(txtProgressUnknown().arg(MB(SoFar)));
        return;
    }
    // The bar counts in KiB: a bar's int would overflow for files over 2 GB.
    const int Maximum = static_cast<int>(qMax<qint64>(1, (Expected + 1023) / 1024));
    prgDownload->setRange(0, Maximum);
    prgDownload->setValue(static_cast<int>(qMin<qint64>((SoFar + 1023) / 1024, Maximum)));
    prgDownload->setFormat(txtProgress().arg(SoFar * 100 / Expected).arg(MB(SoFar), MB(Expected)));
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

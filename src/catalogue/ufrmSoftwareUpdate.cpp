#include "ufrmSoftwareUpdate.h"

#include "uBanner.h"
#include "uConst.h"
#include "uSharedWindow.h"
#include "uTLogger.h"
#include "ufrmQuorvantis.h"

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

// The shared window; it is known as the shared one before its creation handler
// runs, so the main window's ApplyLanguage reaches it.
TfrmSoftwareUpdate& SharedUpdateWindow() {
    bool Made = false;
    TfrmSoftwareUpdate& Window = TSharedUpdateWindow::Obtain(&Made);
    if (Made)
        Window.FormCreate();
    return Window;
}

void LogError(const QString& Text) {
    if (TfrmQuorvantis* Main = frmQuorvantis())
        Main->Logger().Error(Text);
}

} // namespace

TfrmSoftwareUpdate::TfrmSoftwareUpdate(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
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
    setTabOrder(btnUpdate, btnClose);
    connect(btnUpdate, &QPushButton::clicked, this, &TfrmSoftwareUpdate::btnUpdateClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmSoftwareUpdate::btnCloseClick);
    ApplyLanguage();
}

void TfrmSoftwareUpdate::FormCreate() {
    TfrmQuorvantis* Main = frmQuorvantis();
    if (!Main)
        return;
    // Opens by itself at start when the running version is below the required one. The start
    // has just tried the server; asking it again when that failed would only double the wait.
    FState = Main->GetUpdateState();
    if (FState == usRequiredVersion)
        ShowState(usRequiredVersion, false);
}

void TfrmSoftwareUpdate::ShowState(UpdateState State, bool ForceButton) {
    FForceButton = ForceButton;
    FState = State;
    if (TfrmQuorvantis* Main = frmQuorvantis())
        Main->ApplyLanguage();
    else
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
}

void TfrmSoftwareUpdate::btnUpdateClick() {
    btnUpdate->setEnabled(false);
    try {
        if (TfrmQuorvantis* Main = frmQuorvantis())
            Main->DownloadUpdate(prgDownload);
    } catch (const std::exception& E) {
        LogError(QStringLiteral("DownloadUpdate: ") + ExceptionMessage(E));
    }
    prgDownload->setValue(0);
    btnUpdate->setEnabled(true);
    close(); // whether or not the download succeeded
}

void TfrmSoftwareUpdate::btnCloseClick() {
    close();
}

void TfrmSoftwareUpdate::keyPressEvent(QKeyEvent* Event) {
    // FormKeyDown: Escape acts as the close button.
    if (Event->key() == Qt::Key_Escape) {
        btnClose->click();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void CreateSoftwareUpdate() {
    try {
        SharedUpdateWindow();
    } catch (const std::exception& E) {
        LogError(QStringLiteral("FormCreate: ") + ExceptionMessage(E));
    }
}

TfrmSoftwareUpdate* ExistingSoftwareUpdate() {
    return TSharedUpdateWindow::Existing();
}

void ShowUpdates(UpdateState State, bool ForceButton) {
    try {
        SharedUpdateWindow().ShowState(State, ForceButton);
    } catch (const std::exception& E) {
        LogError(QStringLiteral("ShowUpdates: ") + ExceptionMessage(E));
    }
}

#include "ufrmHelp.h"

#include "uAssets.h"
#include "uBanner.h"
#include "uConst.h"
#include "uRtfReader.h"
#include "uSharedWindow.h"
#include "uTLogger.h"
#include "uTools.h"
#include "ufrmQuorvantis.h"

#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QUrl>

namespace {

// Our documents have a few kilobytes; the reader manages about 7 MB a second.
constexpr qint64 MaxDocumentBytes = 16 << 20;

void LogDebug(const QString& Text) {
    if (TfrmQuorvantis* Main = frmQuorvantis())
        Main->Logger().Debug(Text);
}

QString DefaultHint() {
    return QStringLiteral("Quorvantis ") + QString::fromLatin1(ProgramVersion);
}

} // namespace

TfrmHelp::TfrmHelp(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Help"));
    setFixedSize(591, 618);

    imgTop = CreateBanner(this, 591, 30);

    auto* pnlHelp = new QWidget(this);
    pnlHelp->setObjectName(QStringLiteral("pnlHelp"));
    pnlHelp->setGeometry(0, 30, 591, 526);
    pnlHelp->setAutoFillBackground(true);
    QPalette White = pnlHelp->palette();
    White.setColor(QPalette::Window, Qt::white);
    White.setColor(QPalette::Base, Qt::white);
    White.setColor(QPalette::WindowText, Qt::black);
    White.setColor(QPalette::Text, Qt::black);
    pnlHelp->setPalette(White);

    labTitle = new QLabel(pnlHelp);
    labTitle->setObjectName(QStringLiteral("labTitle"));
    labTitle->setTextFormat(Qt::PlainText);
    QFont Bold = labTitle->font();
    Bold.setBold(true);
    labTitle->setFont(Bold);
    labTitle->setGeometry(24, 16, 537, 18);

    labText = new QLabel(pnlHelp);
    labText->setObjectName(QStringLiteral("labText"));
    labText->setTextFormat(Qt::PlainText);
    labText->setWordWrap(true);
    labText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labText->setGeometry(24, 40, 537, 46);

    auto* bvlLine = new QFrame(pnlHelp);
    bvlLine->setObjectName(QStringLiteral("bvlLine"));
    bvlLine->setFrameShape(QFrame::HLine);
    bvlLine->setFrameShadow(QFrame::Sunken);
    bvlLine->setGeometry(24, 92, 537, 2);

    rdtHelp = new QTextBrowser(pnlHelp);
    rdtHelp->setObjectName(QStringLiteral("rdtHelp"));
    rdtHelp->setGeometry(24, 112, 537, 396);
    rdtHelp->setFrameShape(QFrame::NoFrame);
    rdtHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    rdtHelp->setReadOnly(true);
    // Links in the document open in the user's browser, never inside the help window.
    rdtHelp->setOpenLinks(false);
    connect(rdtHelp, &QTextBrowser::anchorClicked, this, [](const QUrl& Link) { OpenURL(Link.toString()); });
    // Where a link leads, shown in the status bar like every other hint.
    connect(rdtHelp, qOverload<const QUrl&>(&QTextBrowser::highlighted), this,
            [this](const QUrl& Link) { pnlStatusBar->showMessage(Link.isEmpty() ? DefaultHint() : Link.toString()); });
    rdtHelp->setPlainText(QStringLiteral("Help not found!"));
    labTitle->setBuddy(rdtHelp); // names the document for screen readers

    btnClose = new QPushButton(this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(497, 565, 84, 25);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    pnlStatusBar = new QStatusBar(this);
    pnlStatusBar->setObjectName(QStringLiteral("pnlStatusBar"));
    pnlStatusBar->setSizeGripEnabled(false);
    pnlStatusBar->setGeometry(0, 598, 591, 20);
    pnlStatusBar->showMessage(DefaultHint());
    if (TfrmQuorvantis* Main = frmQuorvantis())
        connect(Main, &TfrmQuorvantis::HintChanged, pnlStatusBar,
                [this](const QString& Text) { pnlStatusBar->showMessage(Text.isEmpty() ? DefaultHint() : Text); });
}

QString TfrmHelp::DocumentPath() {
    return FindAsset(txtHelpFile());
}

void TfrmHelp::ApplyLanguage() {
    setWindowTitle(StripHotkey(txtHelp()));
    btnClose->setText(txtBtnClose());
    btnClose->setToolTip(txtBtnCloseHint());
    btnClose->setStatusTip(txtBtnCloseHint());
    labTitle->setText(txtHelpTitle());
    labText->setText(txtHelpText());
    LoadDocument(DocumentPath());
}

void TfrmHelp::LoadDocument(const QString& Path) {
    QFile File(Path);
    if (Path.isEmpty() || !File.open(QIODevice::ReadOnly)) {
        rdtHelp->setPlainText(txtHelpFileMissing());
        return;
    }
    if (File.size() > MaxDocumentBytes) {
        // Not ours: reading it would freeze the window for many seconds.
        rdtHelp->setPlainText(txtHelpFileMissing());
        if (TfrmQuorvantis* Main = frmQuorvantis())
            Main->Logger().Error(QStringLiteral("ShowHelp: The help document is too large: ") + Path);
        return;
    }
    ReadRtf(File.readAll(), *rdtHelp->document());
    rdtHelp->moveCursor(QTextCursor::Start); // read from the top, not where the reader stopped
    LogDebug(QStringLiteral("Help document: ") + Path);
}

void TfrmHelp::keyPressEvent(QKeyEvent* Event) {
    // FormKeyDown: Escape acts as the close button.
    if (Event->key() == Qt::Key_Escape) {
        btnClose->click();
        return;
    }
    QDialog::keyPressEvent(Event);
}

TfrmHelp* ExistingHelp() {
    return TSharedWindow<TfrmHelp>::Existing();
}

void ShowHelp() {
    try {
        TfrmHelp& Window = TSharedWindow<TfrmHelp>::Obtain();
        Window.ApplyLanguage();
        Window.show();
        Window.raise();
        Window.activateWindow();
    } catch (const std::exception& E) {
        if (TfrmQuorvantis* Main = frmQuorvantis())
            Main->Logger().Error(QStringLiteral("ShowHelp: ") + ExceptionMessage(E));
    }
}

#include "ufrmHelp.h"

#include "uAccessKeys.h"
#include "uAccessibility.h"
#include "uAssets.h"
#include "uBanner.h"
#include "uConst.h"
#include "uRtfReader.h"
#include "uSharedWindow.h"
#include "uTLogger.h"
#include "uTProgram.h"
#include "uTools.h"
#include "uWindowSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>

namespace {

QString DefaultHint() {
    return QStringLiteral("Quorvantis ") + QString::fromLatin1(ProgramVersion);
}

} // namespace

// A window of its own, not a dialog type: the desktop keeps a parentless dialog above every
// other window of the program, so a window opened later from the menu would come up behind it.
TfrmHelp::TfrmHelp(TProgram& Program, QWidget* Parent)
    : QDialog(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FProgram(Program) {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmHelp::ApplyLanguage);
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
    MarkDocument(*rdtHelp); // before anything about it is reported
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

    btnClose = new QPushButton(this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(497, 565, 84, 25);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    pnlStatusBar = new QStatusBar(this);
    pnlStatusBar->setObjectName(QStringLiteral("pnlStatusBar"));
    pnlStatusBar->setSizeGripEnabled(false);
    pnlStatusBar->setGeometry(0, 598, 591, 20);
    pnlStatusBar->showMessage(DefaultHint());
    connect(&Program, &TProgram::HintChanged, pnlStatusBar,
            [this](const QString& Text) { pnlStatusBar->showMessage(Text.isEmpty() ? DefaultHint() : Text); });
}

QString TfrmHelp::DocumentPath(const std::function<void(const QString&)>& Skipped) {
    // A document that is too large (not ours, or damaged) gives way to the next one, in the
    // end the shipped one.
    const QStringList Candidates = FindAssets(txtHelpFile());
    for (const QString& Path : Candidates) {
        if (QFileInfo(Path).size() <= MaxDocumentBytes)
            return Path;
        if (Skipped)
            Skipped(Path);
    }
    return Candidates.value(0);
}

void TfrmHelp::ApplyLanguage() {
    setWindowTitle(StripHotkey(txtHelp()));
    btnClose->setText(txtBtnClose());
    btnClose->setToolTip(txtBtnCloseHint());
    btnClose->setStatusTip(txtBtnCloseHint());
    labTitle->setText(txtHelpTitle());
    labText->setText(txtHelpText());
    // The text below the tagline is the help itself: a document named as the window.
    rdtHelp->setAccessibleName(windowTitle());
    AssignWidgetAccessKeys(*this);
    LoadDocument(DocumentPath([this](const QString& Path) {
        FProgram.Logger().Error(QStringLiteral("ShowHelp: The help document is too large: ") + Path);
    }));
}

void TfrmHelp::LoadDocument(const QString& Path) {
    if (FLoading)
        return;
    QFile File(Path);
    if (Path.isEmpty() || !File.open(QIODevice::ReadOnly)) {
        rdtHelp->setPlainText(txtHelpFileMissing());
        return;
    }
    if (File.size() > MaxDocumentBytes) {
        // Not ours: reading it would freeze the window for many seconds.
        rdtHelp->setPlainText(txtHelpFileMissing());
        FProgram.Logger().Error(QStringLiteral("ShowHelp: The help document is too large: ") + Path);
        return;
    }
    // Read into a document no view shows yet (nothing is laid out while it grows),
    // then shown at once.
    FProgram.Logger().Debug(QStringLiteral("Reading the help document ") + Path);
    auto* Document = new QTextDocument(rdtHelp);
    Document->setDefaultFont(rdtHelp->font());
    FLoading = true;
    const bool Ended = [&] {
        const QScopeGuard Done([this] { FLoading = false; });
        ReadRtf(File.readAll(), *Document, [this] {
            // Input of the user waits; a signal or a hand-off is served now.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            return !FProgram.IsShuttingDown();
        });
        return FProgram.IsShuttingDown();
    }();
    if (Ended) {
        delete Document;
        return;
    }
    // The view deletes only a document of its own; ours are children of the view itself.
    QTextDocument* Previous = rdtHelp->document();
    const bool Ours = Previous != nullptr && Previous->parent() == rdtHelp;
    rdtHelp->setDocument(Document);
    if (Ours)
        delete Previous;
    rdtHelp->moveCursor(QTextCursor::Start); // read from the top
    FProgram.Logger().Debug(QStringLiteral("Help document: ") + Path);
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

void ShowHelp(TProgram& Program) {
    try {
        TfrmHelp& Window = TSharedWindow<TfrmHelp>::Obtain(Program);
        Window.ApplyLanguage();
        if (!Window.isVisible()) {
            FitOnScreen(Window, *Window.findChild<QWidget*>(QStringLiteral("rdtHelp")));
            CentreOnScreen(Window);
        }
        Window.show();
        Window.raise();
        Window.activateWindow();
    } catch (const std::exception& E) {
        Program.Logger().Error(QStringLiteral("ShowHelp: ") + ExceptionMessage(E));
    }
}

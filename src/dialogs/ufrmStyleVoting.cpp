#include "ufrmStyleVoting.h"

#include "uAccessKeys.h"
#include "uServerPaths.h"
#include "uSharedWindow.h"
#include "uTProgram.h"
#include "uTWebPanel.h"
#include "uTools.h"
#include "uWindowSupport.h"

#include <QCoreApplication>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>

namespace {

constexpr int ClientWidth = 570;
constexpr int ClientHeight = 566;
// A fixed word of the vote pages, not the installation's reference number.
const QString VoteRef = QStringLiteral("software");

} // namespace

TfrmStyleVoting::TfrmStyleVoting(TProgram& Program) : TfrmStyleVoting() {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmStyleVoting::ApplyLanguage);
}

TfrmStyleVoting::TfrmStyleVoting(QWidget* Parent) : QWidget(Parent) {
    SetupToolWindow(*this, QStringLiteral("frmStyleVoting"), ClientWidth, ClientHeight);
    setWindowTitle(QStringLiteral("Style Voting"));

    imgTop = CreateBanner(*this, ClientWidth);
    lblVoteYourStyle = new QLabel(QStringLiteral("Bewerte deinen Style"), this);
    lblVoteYourStyle->setObjectName(QStringLiteral("lblVoteYourStyle"));
    lblVoteYourStyle->setGeometry(16, 52, 220, 20);
    MakeBold(*lblVoteYourStyle, 13);

    btnFlops = CreatePictureButton(*this, QStringLiteral("btnFlops"), QStringLiteral("flops"));
    btnFlops->setText(QStringLiteral("&Flops"));
    btnFlops->setGeometry(248, 46, 100, 25);
    btnTops = CreatePictureButton(*this, QStringLiteral("btnTops"), QStringLiteral("tops"));
    btnTops->setText(QStringLiteral("&Tops"));
    btnTops->setGeometry(352, 46, 100, 25);
    btnRefresh = CreatePictureButton(*this, QStringLiteral("btnRefresh"), QStringLiteral("gallery"));
    btnRefresh->setText(QStringLiteral("&Nächste Seite"));
    btnRefresh->setGeometry(456, 46, 100, 25);
    connect(btnFlops, &QPushButton::clicked, this, &TfrmStyleVoting::btnFlopsClick);
    connect(btnTops, &QPushButton::clicked, this, &TfrmStyleVoting::btnTopsClick);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmStyleVoting::btnRefreshClick);

    panelBrowser = new TWebPanel(this);
    panelBrowser->setGeometry(16, 88, 537, 459);
    panelBrowser->setFocusPolicy(Qt::StrongFocus);
    panelBrowser->setAccessibleName(windowTitle());
    panelBrowser->OnOpenExternal = [](const QString& URL) { OpenURL(URL); };
    panelBrowser->OnFailure = [](const QString& Text) { LogWindowError(QStringLiteral("Load Style Voting: ") + Text); };

    // Reading order: left to right, then the page.
    setTabOrder(btnFlops, btnTops);
    setTabOrder(btnTops, btnRefresh);
    setTabOrder(btnRefresh, panelBrowser);

    auto* Escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(Escape, &QShortcut::activated, this, &QWidget::close);
}

void TfrmStyleVoting::ApplyLanguage() {
    AssignWidgetAccessKeys(*this);
}

void TfrmStyleVoting::LoadPage(const QString& Address) {
    try {
        panelBrowser->Navigate(Address);
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("Load Style Voting: ") + QString::fromUtf8(E.what()));
    }
}

void TfrmStyleVoting::btnRefreshClick() {
    // The same address each time: the server hands out the next page, and the
    // browser keeps no cache that could answer instead.
    LoadPage(BuildServerURL(TServerPath::VotingBanner));
}

void TfrmStyleVoting::btnTopsClick() {
    OpenURL(BuildServerURL(TServerPath::TopVotes, {{QStringLiteral("ref"), VoteRef}}));
}

void TfrmStyleVoting::btnFlopsClick() {
    OpenURL(BuildServerURL(TServerPath::FlopVotes, {{QStringLiteral("ref"), VoteRef}}));
}

void TfrmStyleVoting::hideEvent(QHideEvent* Event) {
    QWidget::hideEvent(Event);
    if (!Event->spontaneous())
        panelBrowser->Release();
}

void ShowStyleVoting(TProgram& Program) {
    try {
        TfrmStyleVoting& Window = TSharedWindow<TfrmStyleVoting>::Obtain(Program);
        Window.ApplyLanguage();
        ShowAndRaise(Window, &Window.Browser());
        Window.btnRefreshClick();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("ShowStyleVoting: ") + QString::fromUtf8(E.what()));
    }
}

TfrmStyleVoting* ExistingStyleVoting() {
    return TSharedWindow<TfrmStyleVoting>::Existing();
}

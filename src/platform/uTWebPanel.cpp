#include "uTWebPanel.h"

#include "uConst.h"
#include "uErrors.h"
#include "uTWebBrowser.h"
#include "uTools.h"
#include "uWebModule.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
// Not part of the designed text table: the designed program always had its browser.
const TLangText txtWebViewUnavailable{
    {"Die Seite kann hier nicht angezeigt werden: %1", "The page cannot be shown here: %1"}};
// Panels holding a browser, in all windows.
int PanelsWithBrowser = 0;

// Time for the engine to tear a view down before its memory is handed back.
constexpr int EngineTeardownMs = 2000;
// How long a click may take to become a link the page follows (a busy page answers late).
constexpr qint64 ClickLifetimeMs = 5000;

bool IsUserClick(const QEvent* Event) {
    switch (Event->type()) {
    case QEvent::MouseButtonRelease: // one per click; a page follows a link on the release
    case QEvent::TouchEnd:
        return true;
    case QEvent::KeyPress: {
        const int Key = static_cast<const QKeyEvent*>(Event)->key();
        return Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Space;
    }
    default:
        return false;
    }
}
} // namespace

TWebPanel::TWebPanel(QWidget* Parent) : QWidget(Parent), FMessage(new QLabel(this)) {
    setObjectName(QStringLiteral("panelBrowser"));
    setAutoFillBackground(true);
    QPalette White = palette();
    White.setColor(QPalette::Window, Qt::white);
    setPalette(White);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    FMessage->setObjectName(QStringLiteral("labBrowserMessage"));
    FMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FMessage->setContentsMargins(8, 8, 8, 8);
    FMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FMessage->hide();
    Layout->addWidget(FMessage);
    // The engine's input widgets come and go with the page: watch them all from here.
    qApp->installEventFilter(this);
}

bool TWebPanel::eventFilter(QObject* Watched, QEvent* Event) {
    if (IsUserClick(Event) && Event->spontaneous() && FBrowser) {
        auto* Target = qobject_cast<QWidget*>(Watched);
        if (Target != nullptr && FBrowser->isAncestorOf(Target))
            FClick.start();
    }
    return QWidget::eventFilter(Watched, Event);
}

bool TWebPanel::TakeClick() {
    const bool Pending = FClick.isValid() && FClick.elapsed() < ClickLifetimeMs;
    FClick.invalidate();
    return Pending;
}

void TWebPanel::LeavePage(const QUrl& Url, bool ClickTaken) {
    if (!ClickTaken && !TakeClick())
        return; // the page's own doing, not the user's
    const QString Address = Url.toString(QUrl::FullyEncoded);
    if (OnOpenExternal && MayLeaveForBrowser(Address))
        OnOpenExternal(Address);
}

TWebPanel::~TWebPanel() {
    if (FBrowser)
        --PanelsWithBrowser;
}

QString TWebPanel::Message() const {
    return FMessage->isHidden() ? QString() : FMessage->text();
}

void TWebPanel::ShowMessage(const QString& Text) {
    // One line: the reason may be long, the panel is not.
    FMessage->setText(
        FMessage->fontMetrics().elidedText(txtWebViewUnavailable().arg(Text), Qt::ElideRight, qMax(100, width() - 16)));
    FMessage->setToolTip(Text);
    FMessage->show();
}

void TWebPanel::Navigate(const QString& Address) {
    try {
        if (!FBrowser) {
            QString Error;
            TWebBrowser* Browser = CreateWebBrowser(this, Error);
            if (!Browser)
                throw EQuorvantis(Error);
            Browser->OnLeavePage = [this](const QUrl& Url, bool ClickTaken) { LeavePage(Url, ClickTaken); };
            Browser->TakeClick = [this] { return TakeClick(); };
            Browser->OnFailure = [this](const QString& Text) {
                ShowMessage(Text);
                if (FBrowser)
                    FBrowser->hide();
                if (OnFailure)
                    OnFailure(Text);
            };
            layout()->addWidget(Browser);
            setFocusProxy(Browser); // the tab order reaches the page through the panel
            FBrowser = Browser;
            ++PanelsWithBrowser;
        }
        FMessage->hide();
        FBrowser->show();
        QString Error;
        if (!FBrowser->Navigate(Address, Error))
            throw EQuorvantis(Error);
    } catch (const EQuorvantis& E) {
        ShowMessage(E.Message());
        throw;
    }
}

void TWebPanel::Release() {
    if (!FBrowser)
        return;
    // Later, not now: the key or close event that hides the window may still be on
    // its way through the browser's widgets.
    FBrowser->hide();
    FBrowser->deleteLater();
    FBrowser = nullptr;
    if (--PanelsWithBrowser == 0)
        QTimer::singleShot(EngineTeardownMs, qApp, [] {
            if (PanelsWithBrowser == 0)
                ReleaseEngineMemory();
        });
}

#include "ufrmAbout.h"

#include "uAccessKeys.h"
#include "uBanner.h"
#include "uConst.h"
#include "uServerPaths.h"
#include "uSharedWindow.h"
#include "uTLinkLabel.h"
#include "uTLogger.h"
#include "uTProgram.h"
#include "uTools.h"
#include "uWindowSupport.h"
#include "ufrmSoftwareUpdate.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <initializer_list>

namespace {

constexpr int DesignWidth = 361;
constexpr int DesignHeight = 236;
constexpr int BannerHeight = 33;
constexpr int DesignButton = 85;
constexpr int DesignButtonHeight = 25;

// The vendor's notice after the version.
constexpr const char* VendorNotice = "\u00A9 2026";

QLabel* BoldLabel(QWidget* Parent, const char* Name) {
    auto* Label = new QLabel(Parent);
    Label->setObjectName(QString::fromLatin1(Name));
    Label->setTextFormat(Qt::PlainText);
    QFont Font = Label->font();
    Font.setBold(true);
    Label->setFont(Font);
    return Label;
}

} // namespace

// A window of its own, not a dialog type: the desktop keeps a parentless dialog above every
// other window of the program, so a window opened later from the menu would come up behind it.
TfrmAbout::TfrmAbout(TProgram& Program, QWidget* Parent)
    : QDialog(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FProgram(Program) {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmAbout::ApplyLanguage);
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Info"));
    setFixedSize(DesignWidth, DesignHeight);

    imgTop = CreateBanner(this, DesignWidth, BannerHeight);

    labTitle = BoldLabel(this, "labTitle");
    labTitle->setGeometry(24, 56, 330, 16);

    labDescription = new QLabel(this);
    labDescription->setObjectName(QStringLiteral("labDescription"));
    labDescription->setTextFormat(Qt::PlainText);
    labDescription->setWordWrap(true);
    labDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labDescription->setGeometry(24, 74, 315, 65);

    labVersion = BoldLabel(this, "labVersion");
    labVersion->setGeometry(24, 152, 134, 16);

    labCopyright = new TLinkLabel(QString(), this);
    labCopyright->setObjectName(QStringLiteral("labCopyright"));
    labCopyright->setGeometry(160, 152, 190, 16);
    connect(labCopyright, &TLinkLabel::Clicked, this, &TfrmAbout::labCopyrightClick);

    lblLastCheck = BoldLabel(this, "lblLastCheck");
    lblLastCheck->setGeometry(24, 168, 315, 16);

    btnSoftwareUpdate = new QPushButton(this);
    btnSoftwareUpdate->setObjectName(QStringLiteral("btnSoftwareUpdate"));
    btnSoftwareUpdate->setGeometry(24, 200, 85, 25);
    btnClose = new QPushButton(this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(256, 200, 85, 25);
    setTabOrder(btnClose, labCopyright);
    setTabOrder(labCopyright, btnSoftwareUpdate);
    connect(btnSoftwareUpdate, &QPushButton::clicked, this, &TfrmAbout::btnSoftwareUpdateClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    FormCreate();
}

QString TfrmAbout::HomePageURL() {
    return BuildServerURL(TServerPath::Home);
}

void TfrmAbout::FormCreate() {
    labVersion->setText(QStringLiteral("Version ") + QString::fromLatin1(ProgramVersion) + QStringLiteral("   ") +
                        QString::fromUtf8(VendorNotice));
    const QUrl Home(HomePageURL());
    labCopyright->setText(Home.port() > 0 ? Home.host() + QLatin1Char(':') + QString::number(Home.port())
                                          : Home.host());
    labCopyright->setToolTip(Home.toString());
    ApplyLanguage();
}

void TfrmAbout::ApplyLanguage() {
    setWindowTitle(txtAboutCaption());
    btnClose->setText(txtBtnClose());
    btnClose->setToolTip(txtBtnCloseHint());
    labTitle->setText(txtAboutTitle());
    labDescription->setText(txtAboutText());
    btnSoftwareUpdate->setText(txtBtnUpdate());
    btnSoftwareUpdate->setToolTip(txtBtnUpdateHint());
    UpdateLastCheck();
    AssignWidgetAccessKeys(*this);
    FitToTexts();
}

void TfrmAbout::FitToTexts() {
    // The designed places fit a small Windows system font; the fonts of the Linux desktops
    // differ (GNOME's clipped the update button). So every row and button takes the room
    // its text needs, never less than designed, and the window grows to hold them.
    constexpr int Margin = 24;
    constexpr int Gap = 12;
    const auto Fit = [](QPushButton* Button) {
        const QSize Hint = Button->sizeHint();
        Button->resize(qMax(DesignButton, Hint.width()), qMax(DesignButtonHeight, Hint.height()));
    };
    Fit(btnSoftwareUpdate);
    Fit(btnClose);
    for (QLabel* Label : std::initializer_list<QLabel*>{labTitle, labVersion, labCopyright, lblLastCheck})
        Label->adjustSize();
    const int Needed = std::max({labTitle->width(), labVersion->width() + Gap + labCopyright->width(),
                                 lblLastCheck->width(), btnSoftwareUpdate->width() + Gap + btnClose->width()}) +
                       2 * Margin;
    const int Width = qMax(DesignWidth, Needed);
    const int Inner = Width - 2 * Margin;

    int Y = 56;
    labTitle->setGeometry(Margin, Y, Inner, qMax(16, labTitle->height()));
    Y = labTitle->geometry().bottom() + 3;
    labDescription->setGeometry(Margin, Y, Inner, qMax(65, labDescription->heightForWidth(Inner)));
    Y = labDescription->geometry().bottom() + 14;
    const int Row = std::max({16, labVersion->height(), labCopyright->height()});
    labVersion->setGeometry(Margin, Y, labVersion->width(), Row);
    labCopyright->setGeometry(qMax(160, Margin + labVersion->width() + Gap), Y, labCopyright->width(), Row);
    Y += Row;
    lblLastCheck->setGeometry(Margin, Y, Inner, qMax(16, lblLastCheck->height()));
    Y = lblLastCheck->geometry().bottom() + 17;
    btnSoftwareUpdate->move(Margin, Y);
    btnClose->move(Width - 20 - btnClose->width(), Y);
    const int Height = qMax(DesignHeight, Y + qMax(btnSoftwareUpdate->height(), btnClose->height()) + 11);

    if (Width != width() || Height != height()) {
        setFixedSize(Width, Height);
        imgTop->setGeometry(0, 0, Width, BannerHeight);
        imgTop->setPixmap(BannerPixmap(Width, BannerHeight, devicePixelRatioF()));
    }
}

void TfrmAbout::UpdateLastCheck() {
    lblLastCheck->setText(QStringLiteral("Check: ") + FProgram.GetCheck());
}

void TfrmAbout::showEvent(QShowEvent* Event) {
    // The check date of the catalogue loaded now, not of the one loaded when the window was made.
    UpdateLastCheck();
    QDialog::showEvent(Event);
    btnClose->setFocus(); // first in the tab order
}

void TfrmAbout::btnSoftwareUpdateClick() {
    const bool Force = IsShiftDown(); // read at the click, before the request takes its time
    // The window stays usable while the server is asked; the button says it is busy.
    btnSoftwareUpdate->setEnabled(false);
    setCursor(Qt::BusyCursor);
    QPointer<TfrmAbout> Self(this);
    TProgram& Program = FProgram;
    Program.RefreshCatalogue(true, [Self, &Program, Force](UpdateState State) {
        if (Self) {
            Self->btnSoftwareUpdate->setEnabled(true);
            Self->unsetCursor();
            Self->UpdateLastCheck();
        }
        if (!Program.IsShuttingDown())
            ShowUpdates(Program, State, Force);
    });
}

void TfrmAbout::labCopyrightClick() {
    OpenURL(HomePageURL());
}

void TfrmAbout::keyPressEvent(QKeyEvent* Event) {
    // FormKeyDown: Escape acts as the close button.
    if (Event->key() == Qt::Key_Escape) {
        btnClose->click();
        return;
    }
    QDialog::keyPressEvent(Event);
}

TfrmAbout* ExistingAbout() {
    return TSharedWindow<TfrmAbout>::Existing();
}

void ShowInfo(TProgram& Program) {
    try {
        TfrmAbout& Window = TSharedWindow<TfrmAbout>::Obtain(Program);
        if (!Window.isVisible())
            CentreOnScreen(Window);
        Window.show();
        Window.raise();
        Window.activateWindow();
    } catch (const std::exception& E) {
        Program.Logger().Error(QStringLiteral("ShowInfo: ") + ExceptionMessage(E));
    }
}

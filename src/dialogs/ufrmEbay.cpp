#include "ufrmEbay.h"

#include "uAccessKeys.h"
#include "uConst.h"
#include "uServerPaths.h"
#include "uSharedWindow.h"
#include "uTProgram.h"
#include "uTUpdateVersion.h"
#include "uTWebPanel.h"
#include "uTools.h"
#include "uWindowSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace {

constexpr int ClientWidth = 570;
constexpr int ClientHeight = 566;

struct TCategoryRow {
    const char* Name;
    int CategoryId;
};

// eBay Germany's top-level categories, in the order the list shows them.
constexpr TCategoryRow CategoryRows[] = {
    {"Antiquitäten & Kunst", 353},
    {"Audio & Hi-Fi", 10614},
    {"Auto & Motorrad", 9800},
    {"Baby", 12081},
    {"Beauty & Gesundheit", 12155},
    {"Briefmarken", 260},
    {"Bücher", 267},
    {"Büro & Schreibwaren", 9815},
    {"Business & Industrie", 12576},
    {"Computer", 160},
    {"Feinschmecker", 62682},
    {"Filme & DVDs", 11232},
    {"Foto & Camcorder", 625},
    {"Garten", 2032},
    {"Handy & Organizer", 14675},
    {"Haushaltsgeräte", 20710},
    {"Heimwerker", 3187},
    {"Immobilien", 60089},
    {"Kleidung & Accessoires", 11450},
    {"Modellbau", 22128},
    {"Möbel & Wohnen", 11700},
    {"Münzen", 11116},
    {"Musik", 11233},
    {"Musikinstrumente", 619},
    {"PC- & Videospiele", 14616},
    {"Reise", 11730},
    {"Sammeln & Seltenes", 1},
    {"Software", 181},
    {"Spielzeug", 220},
    {"Sport", 888},
    {"Tickets", 8529},
    {"Tierwelt", 8440},
    {"TV, Video & Elektronik", 293},
    {"Uhren & Schmuck", 281},
};
constexpr const char* DefaultCategory = "Kleidung & Accessoires";
// The list's caption on the window is only "in"; screen readers need more.
const TLangText txtCategoryList{{"eBay-Kategorie", "eBay category"}};

} // namespace

TfrmEbay::TfrmEbay(TProgram& Program) : TfrmEbay() {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmEbay::ApplyLanguage);
}

TfrmEbay::TfrmEbay(QWidget* Parent) : QWidget(Parent) {
    SetupToolWindow(*this, QStringLiteral("frmEbay"), ClientWidth, ClientHeight);
    setWindowTitle(QStringLiteral("eBay Galerie"));

    imgTop = CreateBanner(*this, ClientWidth);
    labSearch = CreateSearchLabel(*this);

    edtSearch = new QLineEdit(QStringLiteral("Zara"), this);
    edtSearch->setObjectName(QStringLiteral("edtSearch"));
    edtSearch->setGeometry(120, 48, 165, 21);
    edtSearch->installEventFilter(this);
    labSearch->setBuddy(edtSearch);

    labSearchIn = new QLabel(QStringLiteral("in"), this);
    labSearchIn->setObjectName(QStringLiteral("labSearchIn"));
    labSearchIn->setGeometry(291, 52, 14, 16);
    MakeBold(*labSearchIn);

    cboCategory = new QComboBox(this);
    cboCategory->setObjectName(QStringLiteral("cboCategory"));
    cboCategory->setGeometry(308, 48, 158, 21);
    cboCategory->setMaxVisibleItems(20);
    labSearchIn->setBuddy(cboCategory);

    btnSearch = CreatePictureButton(*this, QStringLiteral("btnSearch"), QStringLiteral("search"));
    btnSearch->setGeometry(471, 46, 85, 25);
    connect(btnSearch, &QPushButton::clicked, this, &TfrmEbay::btnSearchClick);

    panelBrowser = new TWebPanel(this);
    panelBrowser->setGeometry(16, 88, 537, 459);
    panelBrowser->setAccessibleName(windowTitle());
    panelBrowser->OnOpenExternal = [](const QString& URL) { OpenURL(URL); };
    panelBrowser->OnFailure = [](const QString& Text) { LogWindowError(QStringLiteral("Load banner: ") + Text); };

    setTabOrder(edtSearch, cboCategory);
    setTabOrder(cboCategory, btnSearch);

    auto* Escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(Escape, &QShortcut::activated, this, &QWidget::close);

    FormCreate();
    // Only a change of the selection loads; filling the list does not.
    connect(cboCategory, &QComboBox::currentIndexChanged, this, &TfrmEbay::btnSearchClick);
}

void TfrmEbay::FormCreate() {
    FillCategories();
    ApplyLanguage();
}

void TfrmEbay::FillCategories() {
    const QSignalBlocker Quiet(cboCategory);
    cboCategory->clear();
    FCategories.clear();
    int Default = -1;
    for (const TCategoryRow& Row : CategoryRows) {
        const int Index = AddCategory(QString::fromUtf8(Row.Name), Row.CategoryId);
        if (qstrcmp(Row.Name, DefaultCategory) == 0)
            Default = Index;
    }
    cboCategory->setCurrentIndex(Default);
}

int TfrmEbay::AddCategory(const QString& Name, int CategoryId) {
    FCategories.push_back(TEbayCategory{Name, CategoryId});
    cboCategory->addItem(Name);
    return cboCategory->count() - 1;
}

int TfrmEbay::SelectedCategory() const {
    const int Index = cboCategory->currentIndex();
    if (Index < 0 || Index >= static_cast<int>(FCategories.size()))
        return 0;
    return FCategories[static_cast<size_t>(Index)].CategoryId;
}

void TfrmEbay::ApplyLanguage() {
    SetCaptionAndHint(*btnSearch, txtBtnSearch(), txtBtnSearchHint());
    labSearch->setText(txtSearchWhat());
    cboCategory->setAccessibleName(txtCategoryList());
    // The caption "in" carries the list's access key; screen readers hear what it names.
    labSearchIn->setAccessibleName(txtCategoryList());
    AssignWidgetAccessKeys(*this);
}

void TfrmEbay::SearchFor(const QString& Text) {
    edtSearch->setText(Text);
    btnSearchClick();
}

void TfrmEbay::btnSearchClick() {
    LoadBanner(URLEncode(edtSearch->text()), SelectedCategory());
}

void TfrmEbay::LoadBanner(const QString& EncodedText, int CategoryId) {
    try {
        panelBrowser->Navigate(
            BuildServerURL(TServerPath::Banner, {{QStringLiteral("search"), EncodedText},
                                                 {QStringLiteral("category"), QString::number(CategoryId)}}));
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("Load banner: ") + QString::fromUtf8(E.what()));
    }
}

bool TfrmEbay::eventFilter(QObject* Watched, QEvent* Event) {
    // Enter searches; other keys wait for it.
    if (Watched == edtSearch && Event->type() == QEvent::KeyRelease) {
        const int Key = static_cast<QKeyEvent*>(Event)->key();
        if (Key == Qt::Key_Return || Key == Qt::Key_Enter)
            btnSearchClick();
    }
    return QWidget::eventFilter(Watched, Event);
}

void TfrmEbay::hideEvent(QHideEvent* Event) {
    QWidget::hideEvent(Event);
    // Every opening loads its page again; meanwhile the engine's processes may end.
    // (A spontaneous hide is the window manager's, e.g. another workspace.)
    if (!Event->spontaneous())
        panelBrowser->Release();
}

void ShowEbay(TProgram& Program) {
    try {
        TfrmEbay& Window = TSharedWindow<TfrmEbay>::Obtain(Program);
        ShowAndRaise(Window, &Window.Browser());
        Window.btnSearchClick();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("ShowEbay: ") + QString::fromUtf8(E.what()));
    }
}

TfrmEbay* ExistingEbay() {
    return TSharedWindow<TfrmEbay>::Existing();
}

#include "ufrmSearch.h"

#include "uAccessKeys.h"
#include "uConst.h"
#include "uServerSubmissions.h"
#include "uSharedWindow.h"
#include "uTProgram.h"
#include "uTools.h"
#include "uWindowSupport.h"
#include "ufrmEbay.h"

#include <QAbstractListModel>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

namespace {

const TLangText txtUnsendableSearch{
    {"Diese Zeichen kann die Suche nicht übertragen: %1\r\nBitte ändern Sie Ihren Suchtext; es wurde nichts gesucht.",
     "The search cannot carry these characters: %1\r\nPlease change your search text; nothing was searched."}};

constexpr int ClientWidth = 427;
constexpr int ClientHeight = 434;
// Title bar and borders of the window the layout arithmetic was made for: heights
// below are outer heights, the client area is this much smaller.
constexpr int FrameHeight = 30;
constexpr int RowHeight = 15;
constexpr int ListWidth = 409;
const QString CatalogueChoice = QStringLiteral("Quorvantis");

bool IsEnter(int Key) {
    return Key == Qt::Key_Return || Key == Qt::Key_Enter;
}

// The result list has no caption on the window; screen readers need one.
const TLangText txtResultList{{"Gefundene Shops", "Shops found"}};
// The status line beside the choices: how many shops the search found. It names
// the result list and carries its access key.
const TLangText txtShopsFound{{"%1 &Shops gefunden", "%1 &shops found"}};
const TLangText txtOneShopFound{{"1 &Shop gefunden", "1 &shop found"}};

} // namespace

TSearchCatalogue ProgramCatalogue(const TProgram& Program) {
    return {[&Program]() -> const TShopList& { return Program.GetShops(); },
            [&Program]() -> const TSearchEngineList& { return Program.Catalogue().SearchEngines; }};
}

// The result entries: the shop's name shown as a link; its address is made when
// it is opened, so a long result list costs no address building.
class TShopResultModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void SetRows(std::shared_ptr<const TShopList> Shops, TShopSearch::TRows Rows) {
        beginResetModel();
        FShops = std::move(Shops);
        FRows = std::move(Rows);
        endResetModel();
    }
    TShopPtr Shop(const QModelIndex& Index) const {
        if (!FShops || !Index.isValid() || Index.row() >= rowCount())
            return nullptr;
        return (*FShops)[static_cast<size_t>(FRows[static_cast<size_t>(Index.row())])];
    }
    int rowCount(const QModelIndex& Parent = {}) const override {
        return Parent.isValid() ? 0 : static_cast<int>(FRows.size());
    }
    QVariant data(const QModelIndex& Index, int Role) const override {
        const TShopPtr Item = Shop(Index);
        if (!Item)
            return {};
        switch (Role) {
        case Qt::DisplayRole:
            return Item->GetName();
        case Qt::UserRole:
            return Item->GetShopURL();
        case Qt::SizeHintRole:
            return QSize(0, RowHeight);
        default:
            return {};
        }
    }

private:
    std::shared_ptr<const TShopList> FShops;
    TShopSearch::TRows FRows;
};

TfrmSearch::TfrmSearch(TProgram& Program) : TfrmSearch(ProgramCatalogue(Program)) {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmSearch::ApplyLanguage);
    // A new catalogue: an open window shows its engines, and its shops for the text typed.
    connect(&Program, &TProgram::CatalogueReplaced, this, [this] {
        if (!isVisible())
            return;
        SyncChoices();
        if (SearchType() == 0)
            SearchShops();
    });
}

TfrmSearch::TfrmSearch(TSearchCatalogue Catalogue, QWidget* Parent)
    : QWidget(Parent), FCatalogue(std::move(Catalogue)) {
    SetupToolWindow(*this, QStringLiteral("frmSearch"), ClientWidth, ClientHeight);
    setWindowTitle(QStringLiteral("Search"));

    imgTop = CreateBanner(*this, ClientWidth);
    labSearch = CreateSearchLabel(*this);

    edtSearch = new QLineEdit(this);
    edtSearch->setObjectName(QStringLiteral("edtSearch"));
    edtSearch->setGeometry(120, 48, 193, 21);
    edtSearch->installEventFilter(this);
    labSearch->setBuddy(edtSearch);

    btnSearch = CreatePictureButton(*this, QStringLiteral("btnSearch"), QStringLiteral("search"));
    btnSearch->setGeometry(328, 46, 85, 25);
    connect(btnSearch, &QPushButton::clicked, this, &TfrmSearch::btnSearchClick);

    rdgSearchType = new QGroupBox(this);
    rdgSearchType->setObjectName(QStringLiteral("rdgSearchType"));
    rdgSearchType->setGeometry(120, 88, 193, 121);
    FChoices = new QButtonGroup(this);
    connect(FChoices, &QButtonGroup::idClicked, this, &TfrmSearch::rdgSearchTypeClick);

    bvlBottom = new QFrame(this);
    bvlBottom->setObjectName(QStringLiteral("bvlBottom"));
    bvlBottom->setFrameShape(QFrame::HLine);
    bvlBottom->setFrameShadow(QFrame::Sunken);
    bvlBottom->setGeometry(8, 216, 411, 9);

    // Right of the choices, in the input area that is always shown.
    lblFound = new QLabel(this);
    lblFound->setObjectName(QStringLiteral("lblFound"));
    lblFound->setGeometry(328, 88, 91, 40);
    lblFound->setWordWrap(true);
    lblFound->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    lblNotFound = new QLabel(this);
    lblNotFound->setObjectName(QStringLiteral("lblNotFound"));
    lblNotFound->setGeometry(8, 232, ListWidth, 13);
    MakeBold(*lblNotFound);
    lblNotFound->hide();

    FResults = new TShopResultModel(this);
    listResult = new QListView(this);
    listResult->setObjectName(QStringLiteral("listResult"));
    listResult->setGeometry(8, 232, ListWidth, 200);
    listResult->setModel(FResults);
    listResult->setFrameShape(QFrame::NoFrame);
    listResult->setUniformItemSizes(true);
    listResult->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listResult->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listResult->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    listResult->setSelectionMode(QAbstractItemView::SingleSelection);
    // Drawn like a list of links on the window's face: the theme's link colour, underlined, hand pointer,
    // the entry under the mouse highlighted, one click opens.
    listResult->setMouseTracking(true);
    listResult->viewport()->setCursor(Qt::PointingHandCursor);
    listResult->viewport()->setAutoFillBackground(false);
    QPalette Links = listResult->palette();
    Links.setColor(QPalette::Base, palette().color(QPalette::Window));
    Links.setColor(QPalette::Text, Links.color(QPalette::Link));
    listResult->setPalette(Links);
    QFont Underlined = listResult->font();
    Underlined.setUnderline(true);
    listResult->setFont(Underlined);
    connect(listResult, &QListView::entered, this,
            [this](const QModelIndex& Index) { listResult->setCurrentIndex(Index); });
    connect(listResult, &QListView::clicked, this, &TfrmSearch::listResultClick);
    listResult->installEventFilter(this);
    listResult->hide();
    lblFound->setBuddy(listResult);

    auto* Escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(Escape, &QShortcut::activated, this, &QWidget::close);

    RebuildChoices({});
    SetDesignHeight(InputAreaHeight());
}

TfrmSearch::~TfrmSearch() = default;

int TfrmSearch::InputAreaHeight() const {
    return bvlBottom->y() + 40;
}

void TfrmSearch::SetDesignHeight(int Height) {
    FDesignHeight = Height;
    setFixedSize(ClientWidth, Height - FrameHeight);
}

int TfrmSearch::SearchType() const {
    return FChoices->checkedId();
}

void TfrmSearch::RebuildChoices(const TSearchEngineList& Engines) {
    FSearchEngines = Engines;
    for (QRadioButton* Button : FChoiceButtons) {
        FChoices->removeButton(Button);
        delete Button;
    }
    FChoiceButtons.clear();
    QStringList Names{CatalogueChoice};
    for (const TSearchEnginePtr& Engine : FSearchEngines)
        Names << EscapeAmpersands(Engine->Name); // an "&" of the name is shown, not taken as access key

    const int N = static_cast<int>(FSearchEngines.size());
    const int GroupHeight = 10 * N + 91;
    rdgSearchType->setFixedHeight(GroupHeight);
    bvlBottom->move(bvlBottom->x(), 10 * N + 186);
    lblNotFound->move(lblNotFound->x(), 10 * N + 202);
    listResult->move(listResult->x(), 10 * N + 202);

    // The items share the group's height below its caption, as a radio group does.
    const int Step = (GroupHeight - 24) / static_cast<int>(Names.size());
    for (int I = 0; I < Names.size(); ++I) {
        // An engine's name is shown as written: "&" is no access key here.
        auto* Button = new QRadioButton(EscapeAmpersands(Names[I]), rdgSearchType);
        Button->setGeometry(10, 20 + I * Step, 175, qMin(Step, 20));
        FChoices->addButton(Button, I);
        FChoiceButtons << Button;
        Button->show();
    }
    FChoiceButtons.first()->setChecked(true);
    // Reading order: the text, its button, the choices below, the results.
    QWidget* Previous = edtSearch;
    for (QWidget* Next : QList<QWidget*>{btnSearch} + QList<QWidget*>(FChoiceButtons.begin(), FChoiceButtons.end()) +
                             QList<QWidget*>{listResult}) {
        setTabOrder(Previous, Next);
        Previous = Next;
    }
    AssignWidgetAccessKeys(*this);
}

void TfrmSearch::SyncChoices() {
    const TSearchEngineList& Engines = FCatalogue.SearchEngines();
    if (Engines == FSearchEngines)
        return;
    // Keep the chosen engine when the new catalogue still has it.
    const QString Chosen = SearchType() > 0 ? ShownCaption(FChoiceButtons[SearchType()]->text()) : QString();
    RebuildChoices(Engines);
    for (QRadioButton* Button : FChoiceButtons)
        if (!Chosen.isEmpty() && ShownCaption(Button->text()) == Chosen)
            Button->setChecked(true);
    if (!Chosen.isEmpty() && SearchType() == 0)
        SetDesignHeight(InputAreaHeight());
}

void TfrmSearch::PrepareAndShow() {
    SetDesignHeight(InputAreaHeight());
    RebuildChoices(FCatalogue.SearchEngines());
    FChoiceButtons.first()->setChecked(true);
    btnSearchClick();
    ApplyLanguage();
    ShowAndRaise(*this);
    edtSearch->setFocus();
}

void TfrmSearch::ApplyLanguage() {
    setWindowTitle(txtSearchCaption());
    SetCaptionAndHint(*btnSearch, txtBtnSearch(), txtBtnSearchHint());
    rdgSearchType->setTitle(txtSearchWhere());
    labSearch->setText(txtSearchWhat());
    listResult->setAccessibleName(txtResultList());
    AssignWidgetAccessKeys(*this);
}

void TfrmSearch::TellFound(int Count) {
    const QString Status = Count < 0    ? QString()
                           : Count == 0 ? txtNoItemsFound()
                           : Count == 1 ? txtOneShopFound()
                                        : txtShopsFound().arg(Count);
    lblFound->setText(Count > 0 ? Status : QString());
    // Said by screen readers while the focus stays in the field: the description of
    // the focused object changes.
    const QString Spoken = ShownCaption(Status);
    if (edtSearch->accessibleDescription() != Spoken)
        edtSearch->setAccessibleDescription(Spoken);
    AssignWidgetAccessKeys(*this);
}

void TfrmSearch::btnSearchClick() {
    SyncChoices();
    if (SearchType() > 0)
        SearchWithEngine();
    else
        SearchShops();
    TfrmEbay* Ebay = ExistingEbay();
    if (Ebay && Ebay->isVisible())
        Ebay->SearchFor(edtSearch->text());
}

void TfrmSearch::SearchShops() {
    if (edtSearch->text().isEmpty()) {
        // No text, no results: the list is emptied, not just cut off.
        listResult->hide();
        listResult->setFixedHeight(0);
        FResults->SetRows(nullptr, {});
        lblNotFound->hide();
        SetDesignHeight(InputAreaHeight());
        TellFound(-1);
        return;
    }
    if (!FShopSearch.IsBuiltFrom(FCatalogue.Shops()))
        FShopSearch.Build(FCatalogue.Shops());
    TShopSearch::TRows Found = FShopSearch.FindRows(edtSearch->text());
    if (!Found.empty()) {
        lblNotFound->hide();
        // 15 pixels per entry up to 14 entries; more scroll.
        const int Shown = static_cast<int>(qMin<size_t>(Found.size(), 14));
        FResults->SetRows(FShopSearch.Shops(), std::move(Found));
        listResult->setFixedHeight(Shown * RowHeight);
        listResult->show();
        SetDesignHeight(bvlBottom->y() + listResult->height() + 55);
        TellFound(FResults->rowCount());
    } else {
        listResult->hide();
        FResults->SetRows(nullptr, {});
        lblNotFound->setText(txtNoItemsFound());
        lblNotFound->show();
        SetDesignHeight(bvlBottom->y() + lblNotFound->height() + 55);
        TellFound(0);
    }
}

void TfrmSearch::SearchWithEngine() {
    const int Index = SearchType() - 1;
    if (Index < 0 || Index >= static_cast<int>(FSearchEngines.size()))
        return;
    // The server takes windows-1252 only; what it cannot carry would arrive as "?".
    const QString Unsendable = UnsendableCharacters({edtSearch->text()});
    if (!Unsendable.isEmpty()) {
        ShowWarning(txtSearchCaption(), txtUnsendableSearch().arg(Unsendable));
        return;
    }
    OpenURL(FSearchEngines[static_cast<size_t>(Index)]->GetSearchURL(edtSearch->text()));
}

void TfrmSearch::rdgSearchTypeClick() {
    SetDesignHeight(InputAreaHeight());
    TellFound(-1);
    if (SearchType() == 0)
        btnSearchClick();
}

void TfrmSearch::listResultClick(const QModelIndex& Index) {
    const TShopPtr Shop = FResults->Shop(Index);
    if (Shop)
        OpenURL(Shop->GetShopURL());
}

void TfrmSearch::edtSearchKeyUp(int Key) {
    if (IsEnter(Key))
        btnSearchClick();
    else if (SearchType() == 0)
        SearchShops();
}

bool TfrmSearch::eventFilter(QObject* Watched, QEvent* Event) {
    // Return, Enter or Space on a result opens it, as a click does.
    if (Watched == listResult && Event->type() == QEvent::KeyPress) {
        const int Key = static_cast<QKeyEvent*>(Event)->key();
        if ((IsEnter(Key) || Key == Qt::Key_Space) && listResult->currentIndex().isValid()) {
            listResultClick(listResult->currentIndex());
            return true;
        }
    }
    if (Watched == edtSearch && Event->type() == QEvent::KeyRelease) {
        const auto* Key = static_cast<QKeyEvent*>(Event);
        if (Key->key() != Qt::Key_Escape)
            edtSearchKeyUp(Key->key());
    }
    return QWidget::eventFilter(Watched, Event);
}

bool TfrmSearch::event(QEvent* Event) {
    // A catalogue refreshed from another window while this one stayed open.
    if (Event->type() == QEvent::WindowActivate)
        SyncChoices();
    return QWidget::event(Event);
}

void ShowSearch(TProgram& Program) {
    try {
        TfrmSearch& Window = TSharedWindow<TfrmSearch>::Obtain(Program);
        Window.PrepareAndShow();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("ShowSearch: ") + QString::fromUtf8(E.what()));
    }
}

TfrmSearch* ExistingSearch() {
    return TSharedWindow<TfrmSearch>::Existing();
}

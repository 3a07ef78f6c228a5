#pragma once

#include "uShopSearch.h"
#include "uTSearchEngine.h"

#include <QWidget>
#include <functional>

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QModelIndex;
class QPushButton;
class QRadioButton;
class TShopResultModel;

// Where the search window takes its shops and search engines from; the lists stay
// owned by their source.
struct TSearchCatalogue {
    std::function<const TShopList&()> Shops;
    std::function<const TSearchEngineList&()> SearchEngines;
};
class TProgram;
// The program's catalogue.
TSearchCatalogue ProgramCatalogue(const TProgram& Program);

// The search window: the catalogue search while typing, or a search engine of
// the catalogue opened in the user's browser. Its height follows the last
// search: input area only, with the result list, or with the "not found" line.
class TfrmSearch final : public QWidget {
    Q_OBJECT
public:
    // Follows the program's catalogue and language.
    explicit TfrmSearch(TProgram& Program);
    explicit TfrmSearch(TSearchCatalogue Catalogue, QWidget* Parent = nullptr);
    ~TfrmSearch() override;
    Q_DISABLE_COPY_MOVE(TfrmSearch)

    void PrepareAndShow();
    void ApplyLanguage();
    void SearchShops();
    void SearchWithEngine();
    void btnSearchClick();
    void rdgSearchTypeClick();
    void listResultClick(const QModelIndex& Index);

    // The window's outer height as the layout computes it (title bar included).
    int DesignHeight() const { return FDesignHeight; }
    // Index of the selected choice: 0 the catalogue, k + 1 search engine k.
    int SearchType() const;

protected:
    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void edtSearchKeyUp(int Key);
    void RebuildChoices(const TSearchEngineList& Engines);
    // Takes the catalogue's current engines when they changed behind the window.
    void SyncChoices();
    void SetDesignHeight(int Height);
    // The status line and what screen readers hear of a search: Count shops found,
    // none (0), or no search shown (-1).
    void TellFound(int Count);
    int InputAreaHeight() const;

    QLabel* imgTop;
    QLabel* labSearch;
    QLineEdit* edtSearch;
    QPushButton* btnSearch;
    QGroupBox* rdgSearchType;
    QButtonGroup* FChoices;
    QList<QRadioButton*> FChoiceButtons;
    QFrame* bvlBottom;
    QLabel* lblFound;
    QLabel* lblNotFound;
    QListView* listResult;
    TShopResultModel* FResults;

    TSearchCatalogue FCatalogue;
    // The engines behind the choices (a copy: a catalogue reload cannot change
    // what a choice stands for).
    TSearchEngineList FSearchEngines;
    TShopSearch FShopSearch;
    int FDesignHeight = 0;
};

// Creates the search window when needed and prepares and shows it.
void ShowSearch(TProgram& Program);
// The search window when it exists (for ApplyLanguage), else nullptr.
TfrmSearch* ExistingSearch();

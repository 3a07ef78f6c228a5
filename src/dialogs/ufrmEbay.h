#pragma once

#include "uTEbayCategory.h"

#include <QWidget>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TProgram;
class TWebPanel;

// The "eBay Galerie" window: a vendor page of eBay offers for a text and one of
// the German top-level categories, shown in the embedded browser. Every search
// loads the page afresh; hiding the window releases the browser.
class TfrmEbay final : public QWidget {
    Q_OBJECT
public:
    // Follows the program's language.
    explicit TfrmEbay(TProgram& Program);
    explicit TfrmEbay(QWidget* Parent = nullptr);
    Q_DISABLE_COPY_MOVE(TfrmEbay)

    void ApplyLanguage();
    void FillCategories();
    int AddCategory(const QString& Name, int CategoryId);
    // The selected entry's category number, 0 when none is selected.
    int SelectedCategory() const;
    void SearchFor(const QString& Text);
    void LoadBanner(const QString& EncodedText, int CategoryId);
    void btnSearchClick();

    const std::vector<TEbayCategory>& Categories() const { return FCategories; }
    TWebPanel& Browser() const { return *panelBrowser; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

private:
    void FormCreate();

    QLabel* imgTop;
    QLabel* labSearch;
    QLineEdit* edtSearch;
    QLabel* labSearchIn;
    QComboBox* cboCategory;
    QPushButton* btnSearch;
    TWebPanel* panelBrowser;
    std::vector<TEbayCategory> FCategories; // parallel to the entries of cboCategory
};

// Creates the eBay window when needed, shows it and loads the page for its text and category.
void ShowEbay(TProgram& Program);
// The eBay window when it exists, else nullptr.
TfrmEbay* ExistingEbay();

#pragma once

#include "uCategoryShops.h"
#include "uConst.h"
#include "uTSettingsDraft.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;
class QTreeWidget;
class TCheckListBox;
class TProgram;
struct TLangText;
class TLinkLabel;

// The settings dialog: shop selection, personal links, program settings with the
// newsletter, feedback and the sweepstakes. Not modal, one instance for the run,
// hidden when closed. Shop choices, links and the autostart choice wait for Ok,
// which hands them to the program object (one store transaction, one menu
// rebuild); Cancel drops them. The language and submissions take effect at once.
class TfrmSettings final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmSettings)
public:
    explicit TfrmSettings(TProgram& Program, QWidget* Parent = nullptr);

    // Reloads the stored values and the lists, re-applies the texts and shows the
    // window in front (an open window is only reloaded and raised).
    void ShowSettings();
    void ApplyLanguage();
    void LoadSettings();
    void FillCategories();
    void UpdateCategoryState(int Index);
    void SaveSettings();
    void FillPersonalLinks();
    void PrepareSelectedItems();

    // Event handlers, public so that the behaviour can be driven as the user would.
    void btnOkClick();
    void btnCancelClick();
    void btnHelpClick();
    void lbxCategoriesClick();
    void lbxShopsClick();
    void lbxShopsDblClick();
    void btnUpdateShopsClick();
    void rdbLanguageGermanClick();
    void rdbLanguageEnglishClick();
    void btnSoftwareUpdateClick();
    void btnGetNewsletterClick();
    void btnSendFeedbackClick();
    void edtFeedbackClick();
    void btnGewinnspielClick();
    void labWebsiteClick();
    void lblAccept1Click();
    void btnAddPersonalLinkClick();
    void btnEditPersonalLinkClick();
    void btnDeletePersonalLinkClick();
    void btnCallPersonalLinkClick();
    void lbxPersonalLinksClick();

    TLanguage SavedLanguage() const { return FSavedLanguage; }
    // The changes not yet confirmed with Ok.
    const TSettingsDraft& Draft() const { return FDraft; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void FormCreate();
    QWidget* CreateShopsTab();
    QWidget* CreatePersonalLinksTab();
    QWidget* CreateApplicationsTab();
    QWidget* CreateFeedbackTab();
    QWidget* CreateGewinnspielTab();
    void ApplyFrameTexts();
    void ApplyTabTexts();
    void ApplyPlaceholder();
    void ShowGewinnspielTab();
    // The e-mail sharing rule: store E and copy it into the empty ones of Others.
    void ShareEmail(const QString& Email, std::initializer_list<QLineEdit*> Others);
    QString SelectedCategory() const;
    QString SelectedLinkName() const;
    void StoreShopVisible(const QString& Category, const QString& Name, bool Visible);
    void ShowHint(const QString& Text);
    // Whether a submission runs: its buttons wait, the rest of the window stays usable.
    void Submitting(bool Busy);
    // A catalogue refresh asked for by Button runs (Busy) or has ended.
    void Refreshing(QPushButton* Button, bool Busy);
    // The end of a submission: the window is usable again, a sent one is confirmed (and
    // OnSent runs), a failed one is told with its cause.
    std::function<void(bool, const QString&)> Reported(const TLangText& Caption, const TLangText& Text,
                                                       std::function<void()> OnSent = {});

    TProgram& FProgram;
    TLanguage FSavedLanguage = 0;
    TCategoryShops FCategoryShops; // lines of lbxCategories -> their shops
    TSettingsDraft FDraft;

    QLabel* imgTop;
    QTabWidget* pcSettings;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QPushButton* btnHelp;
    QStatusBar* pnlStatusBar;

    QWidget* tabShops;
    QGroupBox* gbxCategories;
    QLabel* labCategories;
    TCheckListBox* lbxCategories;
    QGroupBox* gbxShops;
    QLabel* imgShops;
    QLabel* labShopsText;
    TCheckListBox* lbxShops;
    QPushButton* btnUpdateShops;

    QWidget* tabPersonalLinks;
    QGroupBox* gbxPersonalLinks;
    QLabel* labPersonalLinks;
    QTreeWidget* lbxPersonalLinks;
    QPushButton* btnCallPersonalLink;
    QPushButton* btnAddPersonalLink;
    QPushButton* btnEditPersonalLink;
    QPushButton* btnDeletePersonalLink;

    QWidget* tabApplications;
    QGroupBox* gbxStartSettings;
    QCheckBox* cbxAutoStart;
    QGroupBox* gbxLanguage;
    QRadioButton* rdbLanguageGerman;
    QRadioButton* rdbLanguageEnglish;
    QRadioButton* rdbLanguageFrench;
    QGroupBox* gbxSoftwareUpdate;
    QLabel* labVersion;
    QPushButton* btnSoftwareUpdate;
    QGroupBox* gbxNewsletter;
    QLabel* labEmail;
    QLineEdit* edtEmail;
    QRadioButton* rdbRetrieve;
    QRadioButton* rdbDelete;
    QPushButton* btnGetNewsletter;

    QWidget* tabFeedback;
    QLabel* labFeedbackTitle;
    QGroupBox* rdbFeedbackType;
    QRadioButton* rdbFeedbackItems[3];
    QPlainTextEdit* edtFeedback;
    QLabel* labFeedbackEmail;
    QLineEdit* edtFeedbackEmail;
    QPushButton* btnSendFeedback;

    QWidget* tabGewinnspiel;
    QRadioButton* rdbAnswer1;
    QRadioButton* rdbAnswer2;
    TLinkLabel* labWebsite;
    QLineEdit* edtPrename;
    QLineEdit* edtName;
    QLineEdit* edtStreet;
    QLineEdit* edtPLZ;
    QLineEdit* edtCity;
    QComboBox* cboCountry;
    QLineEdit* edtGewinnspielEmail;
    QCheckBox* cbxAccept;
    TLinkLabel* lblAccept1;
    QPushButton* btnGewinnspiel;
};

// Creates the window on first use and shows it (reloaded) in front.
void ShowSettings(TProgram& Program);
// The settings window when it exists (for ApplyLanguage and the new-link entry), else nullptr.
TfrmSettings* ExistingSettings();

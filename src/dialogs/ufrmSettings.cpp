#include "ufrmSettings.h"

#include "uAccessKeys.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uSharedWindow.h"
#include "uTCheckListBox.h"
#include "uTImageList.h"
#include "uTLinkLabel.h"
#include "uTLogger.h"
#include "uTProgram.h"
#include "uTools.h"
#include "uWindowSupport.h"
#include "ufrmHelp.h"
#include "ufrmSoftwareUpdate.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

void SetHint(QWidget* Control, const QString& Hint) {
    Control->setToolTip(Hint);
    Control->setStatusTip(Hint);
}

void SetCaption(QAbstractButton* Button, const TLangText& Caption, const TLangText& Hint) {
    Button->setText(Caption());
    SetHint(Button, Hint());
}

Qt::CheckState ToCheckState(int State) {
    return State == 2 ? Qt::Checked : State == 1 ? Qt::PartiallyChecked : Qt::Unchecked;
}

} // namespace

// A window of its own, not a dialog type: the desktop keeps a parentless dialog above every
// other window of the program, so a window opened later from the menu would come up behind it.
TfrmSettings::TfrmSettings(TProgram& Program, QWidget* Parent)
    : QDialog(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      FProgram(Program) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Application settings"));
    setModal(false);
    setWindowIcon(TImageList::TrayIcon());
    FormCreate();
    labVersion->setText(QStringLiteral("Version ") + QString::fromLatin1(ProgramVersion));
    pcSettings->setCurrentIndex(0);
    // Captions of both languages must fit: size for the other language too, then fix it.
    const TLanguage Language = CurrentLanguage;
    SetCurrentLanguage(1 - Language);
    ApplyFrameTexts();
    ApplyTabTexts();
    const QSize Other = sizeHint();
    SetCurrentLanguage(Language);
    ApplyFrameTexts();
    ApplyTabTexts();
    setFixedSize(sizeHint().expandedTo(Other).expandedTo(QSize(524, 468)));
    connect(&Program, &TProgram::HintChanged, this, &TfrmSettings::ShowHint);
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmSettings::ApplyLanguage);
    // A link added through the menu's "Neuer Link..." shows up here at once, beside
    // the changes made here.
    connect(&Program, &TProgram::StateChanged, this, [this](int Changes) {
        if ((Changes & TProgram::LinksChange) != 0)
            FillPersonalLinks();
    });
    // A catalogue refreshed from another window shows here at once; the choices made stay.
    connect(&Program, &TProgram::CatalogueReplaced, this, [this] {
        if (isVisible())
            FillCategories();
    });
    ShowHint(QStringLiteral("Quorvantis ") + QString::fromLatin1(ProgramVersion));
}

// ---- opening and texts -------------------------------------------------------------

void TfrmSettings::ShowSettings() {
    try {
        LoadSettings();
        ApplyLanguage();
        if (!isVisible()) {
            CentreOnScreen(*this);
            show();
        }
        raise();
        activateWindow();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("TfrmSettings.ShowSettings: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::LoadSettings() {
    cbxAutoStart->setChecked(ReadSetting(Setting::Autorun));
    const bool Order = ReadSetting(Setting::Newsletter);
    rdbRetrieve->setChecked(Order);
    rdbDelete->setChecked(!Order);
    const QString Email = ReadSetting(Setting::Email);
    for (QLineEdit* Field : {edtEmail, edtFeedbackEmail, edtGewinnspielEmail})
        Field->setText(Email);
    FSavedLanguage = CurrentLanguage;
    FDraft.Clear(); // a reopening shows what is stored
    FillCategories();
    FillPersonalLinks();
}

void TfrmSettings::ApplyLanguage() {
    ApplyFrameTexts();
    ApplyTabTexts();
    // Only shows the language in force; switches nothing.
    const QSignalBlocker BlockGerman(rdbLanguageGerman);
    const QSignalBlocker BlockEnglish(rdbLanguageEnglish);
    (CurrentLanguage == 1 ? rdbLanguageEnglish : rdbLanguageGerman)->setChecked(true);
    ApplyPlaceholder();
    ShowGewinnspielTab();
    AssignWindowAccessKeys(*this);
}

void TfrmSettings::ApplyFrameTexts() {
    setWindowTitle(StripHotkey(txtSettings()));
    pcSettings->setAccessibleName(windowTitle());
    SetCaption(btnOk, txtBtnOk, txtBtnOkHint);
    SetCaption(btnCancel, txtBtnCancel, txtBtnCancelHint);
    SetCaption(btnHelp, txtHelp, txtHelpHint);
}

void TfrmSettings::ApplyTabTexts() {
    rdbLanguageGerman->setText(txtGerman());
    rdbLanguageEnglish->setText(txtEnglish());
    SetCaption(cbxAutoStart, txtAutoStart, txtAutoStartHint);
    SetCaption(btnSoftwareUpdate, txtBtnUpdate, txtBtnUpdateHint);
    SetCaption(btnUpdateShops, txtBtnUpdate, txtBtnUpdateShopsHint);
    gbxStartSettings->setTitle(txtInfo());
    gbxLanguage->setTitle(txtLanguage());
    gbxSoftwareUpdate->setTitle(txtSoftwareUpdateGroup());
    gbxCategories->setTitle(txtCategories());
    gbxShops->setTitle(txtShops());
    SetHint(edtEmail, txtEmailHint());
    SetHint(edtFeedbackEmail, txtEmailHint());
    labCategories->setText(txtCategoriesLabel());
    labShopsText->setText(txtShopsLabel());
    // The group titles name the lists; the texts above them describe them.
    lbxCategories->setAccessibleName(txtCategories());
    lbxCategories->setAccessibleDescription(txtCategoriesLabel());
    lbxShops->setAccessibleName(txtShops());
    lbxShops->setAccessibleDescription(txtShopsLabel());
    SetCaption(btnGetNewsletter, txtBtnSaveNewsletter, txtBtnSaveNewsletterHint);
    SetCaption(rdbRetrieve, txtNewsletterOrder, txtNewsletterOrderHint);
    SetCaption(rdbDelete, txtNewsletterCancel, txtNewsletterCancelHint);
    SetCaption(btnSendFeedback, txtBtnSend, txtBtnSendHint);
    rdbFeedbackType->setTitle(txtFeedbackSubject());
    labFeedbackTitle->setText(txtFeedbackTitle());
    SetCaption(btnAddPersonalLink, txtBtnAdd, txtBtnAddHint);
    SetCaption(btnEditPersonalLink, txtBtnEdit, txtBtnEditHint);
    SetCaption(btnDeletePersonalLink, txtBtnDelete, txtBtnDeleteHint);
    SetCaption(btnCallPersonalLink, txtBtnOpen, txtBtnOpenHint);
    labPersonalLinks->setText(txtPersonalLinksLabel());
    lbxPersonalLinks->setAccessibleDescription(txtPersonalLinksLabel());
    lbxPersonalLinks->setHeaderLabels({StripHotkey(txtTitleLabel()), StripHotkey(txtURLLabel())});
    const TLangText* Types[3] = {&txtFeedbackGeneral, &txtFeedbackSuggestShop, &txtFeedbackProblem};
    for (int I = 0; I < 3; ++I)
        rdbFeedbackItems[I]->setText((*Types[I])());
}

void TfrmSettings::ApplyPlaceholder() {
    const QString Text = edtFeedback->toPlainText();
    if (Text.isEmpty() || Text == txtFeedbackPlaceholder.In(0) || Text == txtFeedbackPlaceholder.In(1))
        edtFeedback->setPlainText(txtFeedbackPlaceholder());
}

void TfrmSettings::ShowGewinnspielTab() {
    const bool Active = FProgram.IsGameActive();
    const int Index = pcSettings->indexOf(tabGewinnspiel);
    // Taken out of the tab control while the sweepstakes is over: a hidden tab would
    // still be counted by screen readers and reached by Ctrl+Tab, and a window closed
    // on it would come back on an empty page.
    if (Active && Index < 0)
        pcSettings->addTab(tabGewinnspiel, QStringLiteral("Gewinnspiel"));
    else if (!Active && Index >= 0)
        pcSettings->removeTab(Index);
}

void TfrmSettings::ShowHint(const QString& Text) {
    pnlStatusBar->showMessage(Text);
}

// ---- shops -------------------------------------------------------------------------

void TfrmSettings::FillCategories() {
    lbxCategories->clear();
    lbxShops->clear();
    const QStringList& Categories = FProgram.Catalogue().Categories;
    // One pass over the catalogue for all lines; the list then only looks shops up.
    FCategoryShops = TCategoryShops(Categories, FProgram.GetShops());
    for (const QString& Category : Categories)
        lbxCategories->AddLine(Category);
    {
        const TSettingsReadTransaction Reads;
        for (int I = 0; I < lbxCategories->count(); ++I)
            UpdateCategoryState(I);
    }
    if (lbxCategories->count() > 0) {
        lbxCategories->SetItemIndex(0);
        lbxCategoriesClick();
    }
}

void TfrmSettings::UpdateCategoryState(int Index) {
    const QListWidgetItem* Line = lbxCategories->item(Index);
    if (Line == nullptr)
        return;
    const QString Category = Line->text();
    const TShopList& Shops = FCategoryShops.Shops(Index);
    bool AnySelected = false;
    bool AnyDeselected = false;
    // Without any choice every shop of the category is selected.
    if (!Shops.empty() && !FDraft.HasCategoryChoices(Category)) {
        AnySelected = true;
    } else {
        for (const TShopPtr& Shop : Shops) {
            (FDraft.IsShopVisible(Category, Shop->GetName()) ? AnySelected : AnyDeselected) = true;
            if (AnySelected && AnyDeselected)
                break;
        }
    }
    lbxCategories->SetState(Index, ToCheckState(CategoryCheckState(AnySelected, AnyDeselected)));
}

QString TfrmSettings::SelectedCategory() const {
    const int Index = lbxCategories->ItemIndex();
    return Index < 0 ? QString() : lbxCategories->item(Index)->text();
}

void TfrmSettings::StoreShopVisible(const QString& Category, const QString& Name, bool Visible) {
    if (FDraft.IsShopVisible(Category, Name) != Visible)
        FDraft.SetShopVisible(Category, Name, Visible);
}

void TfrmSettings::lbxCategoriesClick() {
    try {
        lbxShops->clear();
        const int Index = lbxCategories->ItemIndex();
        if (Index < 0)
            return;
        const QString Category = lbxCategories->item(Index)->text();
        const Qt::CheckState State = lbxCategories->State(Index);
        for (const TShopPtr& Shop : FCategoryShops.Shops(Index)) {
            const QString Name = Shop->GetName();
            if (State == Qt::PartiallyChecked) {
                lbxShops->AddLine(Name, FDraft.IsShopVisible(Category, Name) ? Qt::Checked : Qt::Unchecked);
            } else {
                lbxShops->AddLine(Name, State);
                StoreShopVisible(Category, Name, State == Qt::Checked);
            }
        }
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("lbxCategoriesClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::lbxShopsClick() {
    try {
        const int Index = lbxShops->ItemIndex();
        if (Index < 0)
            return;
        StoreShopVisible(SelectedCategory(), lbxShops->item(Index)->text(), lbxShops->Checked(Index));
        UpdateCategoryState(lbxCategories->ItemIndex());
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("lbxShopsClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::lbxShopsDblClick() {
    try {
        const int Index = lbxShops->ItemIndex();
        if (Index < 0)
            return;
        // The lines are the category's shops in order; a shop may spell the category otherwise.
        const TShopList& Shops = FCategoryShops.Shops(lbxCategories->ItemIndex());
        if (Index >= static_cast<int>(Shops.size()))
            return;
        const TShopPtr Shop = Shops[static_cast<size_t>(Index)];
        OpenURL(Shop->GetShopURL() + QStringLiteral("&ref=") + QString::number(FProgram.Ref()) +
                QStringLiteral("&check=") + FProgram.GetCheck() + QStringLiteral("&version=") +
                QString::fromLatin1(ProgramVersion) + QStringLiteral("&subid=software"));
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("lbxShopsDblClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::btnUpdateShopsClick() {
    try {
        Refreshing(btnUpdateShops, true);
        QPointer<TfrmSettings> Self(this);
        FProgram.RefreshCatalogue(true, [Self](UpdateState Status) {
            if (!Self)
                return;
            Self->Refreshing(Self->btnUpdateShops, false);
            try {
                if (Status != usUpToDate && Status != usError) {
                    ::ShowUpdates(Self->FProgram, Status, false);
                    return;
                }
                Self->FillCategories();
                // A failed refresh is said as such, with the reason the log has too.
                if (Status == usError && !Self->FProgram.IsShuttingDown())
                    ShowWarning(StripHotkey(txtBtnUpdate()),
                                txtShopsNotUpdated().arg(Self->FProgram.LastRefreshError()));
                else if (Status != usError)
                    ShowWarning(StripHotkey(txtBtnUpdate()), txtShopsUpdated());
            } catch (const std::exception& E) {
                LogWindowError(QStringLiteral("btnUpdateShopsClick: ") + ExceptionMessage(E));
            }
        });
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnUpdateShopsClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::Refreshing(QPushButton* Button, bool Busy) {
    Button->setEnabled(!Busy);
    if (Busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

// ---- program tab ---------------------------------------------------------------------

void TfrmSettings::btnSoftwareUpdateClick() {
    try {
        const bool Force = IsShiftDown(); // at the click, not when the answer is in
        Refreshing(btnSoftwareUpdate, true);
        QPointer<TfrmSettings> Self(this);
        TProgram& Program = FProgram;
        Program.RefreshCatalogue(true, [Self, &Program, Force](UpdateState Status) {
            if (Self)
                Self->Refreshing(Self->btnSoftwareUpdate, false);
            if (!Program.IsShuttingDown())
                ::ShowUpdates(Program, Status, Force);
        });
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnSoftwareUpdateClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::rdbLanguageGermanClick() {
    try {
        FProgram.SetLanguage(0);
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("rdbLanguageGermanClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::rdbLanguageEnglishClick() {
    try {
        FProgram.SetLanguage(1);
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("rdbLanguageEnglishClick: ") + ExceptionMessage(E));
    }
}

// ---- frame -----------------------------------------------------------------------------

void TfrmSettings::SaveSettings() {
    const bool Autorun = cbxAutoStart->isChecked();
    WriteSetting(Setting::Autorun, Autorun);
    // The entry starts the program file that runs now: the install folder holds no program here.
    SetAutostart(QString::fromLatin1(ProgramName), QCoreApplication::applicationFilePath(), Autorun);
    FProgram.CommitSettings(FDraft); // the menu follows, rebuilt once
    FDraft.Clear();
}

void TfrmSettings::btnOkClick() {
    try {
        SaveSettings();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnOkClick: ") + ExceptionMessage(E));
    }
    hide();
}

void TfrmSettings::btnCancelClick() {
    FDraft.Clear();
    try {
        FProgram.SetLanguage(FSavedLanguage);
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnCancelClick: ") + ExceptionMessage(E));
    }
    hide();
}

void TfrmSettings::btnHelpClick() {
    ::ShowHelp(FProgram);
}

void TfrmSettings::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
        btnCancelClick();
        return;
    }
    QDialog::keyPressEvent(Event);
}

bool TfrmSettings::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::MouseButtonPress && Watched == edtFeedback->viewport())
        edtFeedbackClick();
    // Tabbing into the memo prepares it for writing just as a click does.
    if (Event->type() == QEvent::FocusIn && Watched == edtFeedback &&
        static_cast<QFocusEvent*>(Event)->reason() != Qt::ActiveWindowFocusReason)
        edtFeedbackClick();
    return QDialog::eventFilter(Watched, Event);
}

// ---- the one window ----------------------------------------------------------------------

void ShowSettings(TProgram& Program) {
    try {
        TfrmSettings& Window = TSharedWindow<TfrmSettings>::Obtain(Program);
        Window.ShowSettings();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("ShowSettings: ") + ExceptionMessage(E));
    }
}

TfrmSettings* ExistingSettings() {
    return TSharedWindow<TfrmSettings>::Existing();
}

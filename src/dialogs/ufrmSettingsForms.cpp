// The settings dialog's personal links, newsletter, feedback and sweepstakes.
#include "uAccessKeys.h"
#include "uErrors.h"
#include "uIconFiles.h"
#include "uServerPaths.h"
#include "uServerSubmissions.h"
#include "uSettingsKeys.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"
#include "uTProgram.h"
#include "uTools.h"
#include "uWindowSupport.h"
#include "ufrmEditFavorites.h"
#include "ufrmSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace {

const QString Gewinnspiel = QStringLiteral("Gewinnspiel");

const TLangText txtSubmissionFailed{
    {"Der Server hat die Daten nicht angenommen (%1). Die Anfrage wurde stattdessen in Ihrem Browser geöffnet.",
     "The server did not accept the data (%1). The request was opened in your browser instead."}};

bool IsPlaceholder(const QString& Text) {
    return Text == txtFeedbackPlaceholder.In(0) || Text == txtFeedbackPlaceholder.In(1);
}

// The server takes windows-1252 only: refuse what it would turn into "?" before
// anything is stored or sent; the form keeps what the user typed.
bool RefuseUnsendable(const QString& Caption, const QStringList& Values) {
    const QString Characters = UnsendableCharacters(Values);
    if (Characters.isEmpty())
        return false;
    ShowWarning(Caption, txtUnsendableCharacters().arg(Characters));
    return true;
}

} // namespace

// ---- personal links --------------------------------------------------------------------

void TfrmSettings::FillPersonalLinks() {
    const QString Selected = SelectedLinkName();
    lbxPersonalLinks->clear();
    for (const TURLItem& Item : FDraft.LoadLinks(FProgram.Links())) {
        auto* Row = new QTreeWidgetItem(lbxPersonalLinks, {Item.Name, Item.URL});
        if (Item.Name == Selected)
            lbxPersonalLinks->setCurrentItem(Row);
    }
    PrepareSelectedItems();
}

void TfrmSettings::PrepareSelectedItems() {
    const bool HasRows = lbxPersonalLinks->topLevelItemCount() > 0;
    if (HasRows && lbxPersonalLinks->selectedItems().isEmpty())
        lbxPersonalLinks->setCurrentItem(lbxPersonalLinks->topLevelItem(0));
    const bool Enabled = HasRows && !lbxPersonalLinks->selectedItems().isEmpty();
    btnCallPersonalLink->setEnabled(Enabled);
    btnEditPersonalLink->setEnabled(Enabled);
    btnDeletePersonalLink->setEnabled(Enabled);
    btnAddPersonalLink->setEnabled(true);
}

QString TfrmSettings::SelectedLinkName() const {
    const QList<QTreeWidgetItem*> Selected = lbxPersonalLinks->selectedItems();
    return Selected.isEmpty() ? QString() : Selected.first()->text(0);
}

void TfrmSettings::lbxPersonalLinksClick() {
    PrepareSelectedItems();
}

void TfrmSettings::btnCallPersonalLinkClick() {
    try {
        TURLItem Item;
        Item.Name = SelectedLinkName();
        if (Item.Name.isEmpty())
            return;
        // The address comes from the links, not from the list cell.
        if (FDraft.LoadLink(FProgram.Links(), Item) && !Item.URL.isEmpty())
            OpenURL(Item.URL);
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnCallPersonalLinkClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::btnAddPersonalLinkClick() {
    try {
        TURLItem Item;
        if (EditFavorite(FProgram, Item) && FDraft.AddLink(FProgram.Links(), Item))
            FillPersonalLinks();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnAddPersonalLinkClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::btnEditPersonalLinkClick() {
    try {
        const QString OldName = SelectedLinkName();
        if (OldName.isEmpty())
            return;
        TURLItem Item;
        Item.Name = OldName;
        if (!FDraft.LoadLink(FProgram.Links(), Item) || !EditFavorite(FProgram, Item))
            return;
        // The old link goes only once the edited one is taken: a refused overwrite keeps it.
        if (!FDraft.ReplaceLink(FProgram.Links(), OldName, Item))
            return;
        FillPersonalLinks();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnEditPersonalLinkClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::btnDeletePersonalLinkClick() {
    try {
        const QString Name = SelectedLinkName();
        if (Name.isEmpty())
            return;
        if (!AskYesNo(txtConfirmDelete(), txtConfirmDeleteItem().replace(QStringLiteral("%s"), Name)))
            return;
        if (FDraft.DeleteLink(FProgram.Links(), Name))
            FillPersonalLinks();
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnDeletePersonalLinkClick: ") + ExceptionMessage(E));
    }
}

// ---- the three forms ----------------------------------------------------------------------

void TfrmSettings::ShareEmail(const QString& Email, std::initializer_list<QLineEdit*> Others) {
    WriteSetting(Setting::Email, Email);
    for (QLineEdit* Field : Others)
        if (Field->text().isEmpty())
            Field->setText(Email);
}

std::function<void(bool, const QString&)> TfrmSettings::Reported(const TLangText& Caption, const TLangText& Text,
                                                                 std::function<void()> OnSent) {
    QPointer<TfrmSettings> Self(this);
    return [Self, &Caption, &Text, OnSent](bool Sent, const QString& Error) {
        if (!Self || Self->FProgram.IsShuttingDown())
            return;
        Self->Submitting(false);
        if (!Sent) {
            ShowWarning(Caption(), txtSubmissionFailed().arg(Error));
            return;
        }
        if (OnSent)
            OnSent();
        ShowInformation(Caption(), Text());
    };
}

void TfrmSettings::Submitting(bool Busy) {
    // The window stays movable, closable and its tabs usable; only sending again waits.
    for (QPushButton* Button : {btnGetNewsletter, btnSendFeedback, btnGewinnspiel})
        Button->setEnabled(!Busy);
    if (Busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void TfrmSettings::btnGetNewsletterClick() {
    try {
        const QString Email = edtEmail->text();
        if (!IsValidEmail(Email)) {
            ShowWarning(txtInvalidEmailCaption(), txtInvalidEmail());
            return;
        }
        if (RefuseUnsendable(txtNewsletter(), {Email}))
            return;
        const bool Order = rdbRetrieve->isChecked();
        ShareEmail(Email, {edtFeedbackEmail, edtGewinnspielEmail});
        // The choice is the user's only once the server has taken it.
        Submitting(FProgram.SendNewsletter(Email, Order, Reported(txtNewsletter, txtDataSaved, [Order] {
                                               WriteSetting(Setting::Newsletter, Order);
                                           })));
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnGetNewsletterClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::edtFeedbackClick() {
    if (IsPlaceholder(edtFeedback->toPlainText()))
        edtFeedback->clear();
}

void TfrmSettings::btnSendFeedbackClick() {
    try {
        const QString Text = edtFeedback->toPlainText();
        if (Text.isEmpty() || IsPlaceholder(Text)) {
            ShowWarning(txtNoTextCaption(), txtNoFeedbackText());
            return;
        }
        const QString Email = edtFeedbackEmail->text();
        if (!IsValidEmail(Email)) {
            ShowWarning(txtInvalidEmailCaption(), txtInvalidEmail());
            return;
        }
        QString Subject;
        for (const QRadioButton* Item : rdbFeedbackItems)
            if (Item->isChecked())
                Subject = ShownCaption(Item->text()); // as shown, without its access key mark
        if (RefuseUnsendable(txtFeedback(), {Email, Subject, Text}))
            return;
        ShareEmail(Email, {edtEmail, edtGewinnspielEmail});
        Submitting(FProgram.SendFeedback(Email, Subject, Text, Reported(txtFeedback, txtFeedbackSent)));
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnSendFeedbackClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::btnGewinnspielClick() {
    try {
        for (const QLineEdit* Field : {edtPrename, edtName, edtStreet, edtPLZ, edtCity}) {
            if (Field->text().isEmpty()) {
                ShowWarning(Gewinnspiel,
                            QStringLiteral("Bitte füllen Sie alle Felder aus, um am Gewinnspiel teilzunehmen!"));
                return;
            }
        }
        const QString Email = edtGewinnspielEmail->text();
        if (!IsValidEmail(Email)) {
            ShowWarning(txtInvalidEmailCaption(), txtInvalidEmail());
            return;
        }
        if (RefuseUnsendable(txtGewinnspiel(), {Email, edtPrename->text(), edtName->text(), edtStreet->text(),
                                                edtPLZ->text(), edtCity->text(), cboCountry->currentText()}))
            return;
        // Stored before the answer is checked: a wrong answer keeps the address.
        ShareEmail(Email, {edtEmail, edtFeedbackEmail});
        if (!rdbAnswer2->isChecked()) {
            ShowWarning(Gewinnspiel,
                        QStringLiteral("Bitte beantworten Sie die Frage richtig, um am Gewinnspiel teilzunehmen!"));
            return;
        }
        if (!cbxAccept->isChecked()) {
            ShowWarning(Gewinnspiel, QStringLiteral("Bitte akzeptieren Sie die Teilnahmebedinungen!"));
            return;
        }
        Submitting(FProgram.SendGewinnspiel(Email, edtPrename->text(), edtName->text(), edtStreet->text(),
                                            edtPLZ->text(), edtCity->text(), cboCountry->currentText(),
                                            Reported(txtGewinnspiel, txtGewinnspielEntered)));
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("btnGewinnspielClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::labWebsiteClick() {
    try {
        OpenURL(BuildServerURL(TServerPath::GewinnspielPage));
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("labWebsiteClick: ") + ExceptionMessage(E));
    }
}

void TfrmSettings::lblAccept1Click() {
    try {
        OpenURL(BuildServerURL(TServerPath::Teilnahmebedingungen));
    } catch (const std::exception& E) {
        LogWindowError(QStringLiteral("lblAccept1Click: ") + ExceptionMessage(E));
    }
}

#include "uConst.h"

TLanguage CurrentLanguage = 0;

void SetCurrentLanguage(int Lang) {
    // Out-of-range values (a damaged stored setting) fall back to German.
    CurrentLanguage = (Lang == 0 || Lang == 1) ? static_cast<TLanguage>(Lang) : TLanguage{0};
}

QString TLangText::In(TLanguage Lang) const {
    return QString::fromUtf8(Text[Lang == 1 ? 1 : 0]);
}

QString TLangText::operator()() const {
    return In(CurrentLanguage);
}

QString StripHotkey(const QString& Caption) {
    QString Result;
    Result.reserve(Caption.size());
    for (qsizetype I = 0; I < Caption.size(); ++I) {
        if (Caption[I] != QLatin1Char('&')) {
            Result += Caption[I];
        } else if (I + 1 < Caption.size() && Caption[I + 1] == QLatin1Char('&')) {
            Result += QLatin1Char('&');
            ++I;
        }
    }
    return Result;
}

// clang-format off
const TLangText txtHelpFile{{"Quorvantis_Help_DE.rtf", "Quorvantis_Help_EN.rtf"}};
const TLangText txtBtnAdd{{"&Neu...", "A&dd..."}};
const TLangText txtBtnAddHint{{"Eintrag hinzufügen", "Add item..."}};
const TLangText txtBtnOpen{{"Auf&rufen", "O&pen..."}};
const TLangText txtBtnOpenHint{{"Eintrag aufrufen", "Open item..."}};
const TLangText txtBtnCancel{{"&Abbrechen", "C&ancel"}};
const TLangText txtBtnCancelHint{{"Aktion abbrechen und Fenster schließen", "Cancel action and close window"}};
const TLangText txtCategories{{"Kategorien", "Categories"}};
const TLangText txtBtnClose{{"&Schließen", "Clo&se"}};
const TLangText txtBtnCloseHint{{"Fenster schließen", "Close window"}};
const TLangText txtBtnDelete{{"&Löschen", "De&lete"}};
const TLangText txtBtnDeleteHint{{"Eintrag löschen", "Delete item"}};
const TLangText txtBtnEdit{{"Änd&ern...", "&Edit..."}};
const TLangText txtBtnEditHint{{"Eintrag ändern", "Edit item..."}};
const TLangText txtEnglish{{"&English", "&English"}};
const TLangText txtMenuExit{{"&Beenden", "E&xit"}};
const TLangText txtGerman{{"&Deutsch", "&Deutsch"}};
const TLangText txtBtnSaveNewsletter{{"&Speichern", "&Save"}};
const TLangText txtBtnSaveNewsletterHint{{"Newsletteränderungen speichern", "Save newsletter changes"}};
const TLangText txtHelp{{"&Hilfe", "&Help"}};
const TLangText txtHelpHint{{"Hilfe anzeigen", "Show help"}};
const TLangText txtMenuInfo{{"&Info", "&Info"}};
const TLangText txtBtnOk{{"&Ok", "&Ok"}};
const TLangText txtBtnOkHint{{"Aktion bestätigen und Fenster schließen", "Close window"}};
const TLangText txtNewsletterOrder{{"&Bestellen", "O&rder"}};
const TLangText txtNewsletterOrderHint{{"Klicken Sie hier, wenn Sie den kostenlosen Newsletter abonnieren möchten", "Click here if you would like to receive the free newsletter"}};
const TLangText txtBtnSave{{"&Speichern", "&Save"}};
const TLangText txtBtnSaveHint{{"Einstellungen speichern und Fenster schließen", "Save settings and close window"}};
const TLangText txtBtnSearch{{"Su&chen", "Sear&ch"}};
const TLangText txtBtnSearchHint{{"Shops oder Produkte suchen", "Search for shops or products"}};
const TLangText txtSearchWhat{{"Was suchen Sie", "What do you search"}};
const TLangText txtSearchWhere{{"Wo wollen Sie suchen", "Where do you want to search"}};
const TLangText txtBtnSend{{"&Senden", "&Send"}};
const TLangText txtBtnSendHint{{"Feedback absenden", "Send feedback"}};
const TLangText txtSettings{{"Einstellungen", "Settings"}};
const TLangText txtShops{{"Shops", "Shops"}};
const TLangText txtSoftwareUpdate{{"Software-Update", "Software update"}};
const TLangText txtFeedbackSubject{{"Betreff", "Subject"}};
const TLangText txtNewsletterCancel{{"Abbes&tellen", "De&lete"}};
const TLangText txtNewsletterCancelHint{{"Klicken Sie hier, falls Sie den Newsletter nicht mehr möchten", "Click here if you do not like to get the newsletter anymore"}};
const TLangText txtBtnUpdate{{"Akt&ualisieren", "&Update"}};
const TLangText txtBtnUpdateHint{{"Die aktuelle Version installieren", "Click here to install the new version."}};
const TLangText txtBtnUpdateShopsHint{{"Neue Shops vom Server laden", "Click here to get new shops from server."}};
const TLangText txtTitleLabel{{"&Bezeichnung", "&Description"}};
const TLangText txtTitleHint{{"Geben Sie hier bitte eine beliebige Bezeichnung ein", "Please enter a description."}};
const TLangText txtURLLabel{{"&URL", "&URL"}};
const TLangText txtURLHint{{"Geben Sie hier bitte die gewünschte Internet-Adresse ein", "Please enter an Internet address."}};
const TLangText txtFeedback{{"Feedback", "Feedback"}};
const TLangText txtFeedbackTitle{{"Bitte geben Sie uns Feedback, um unser Produkt noch besser zu machen.", "Please send us feedback to improve our product."}};
const TLangText txtFeedbackPlaceholder{{"Bitte schreiben Sie hier Ihr Feedback", "Please input your feedback here"}};
const TLangText txtFeedbackGeneral{{"Allgemein", "General"}};
const TLangText txtFeedbackSuggestShop{{"Shop vorschlagen", "Suggest a shop"}};
const TLangText txtFeedbackProblem{{"Problem", "Problem"}};
const TLangText txtFeedbackSent{{"Feedback gesendet!", "Feedback sent!"}};
const TLangText txtNewsletter{{"Newsletter", "Newsletter"}};
const TLangText txtDataSaved{{"Daten gespeichert!", "Data saved!"}};
const TLangText txtGewinnspiel{{"Gewinnspiel", "Gewinnspiel"}};
const TLangText txtGewinnspielEntered{{"Sie nehmen nun am Gewinnspiel teil!", "Sie nehmen nun am Gewinnspiel teil!"}};
const TLangText txtEmailHint{{"Geben Sie hier Ihre Email Adresse an", "Please specify your email address"}};
const TLangText txtCategoriesLabel{{"Wählen Sie eine Kategorie für die Sie Shops auswählen wollen", "Select a category for which you would like to select shops"}};
const TLangText txtShopsLabel{{"Markieren Sie gewünschte Shops.", "Select favorite shops."}};
const TLangText txtInfo{{"Info", "Info"}};
const TLangText txtLanguage{{"Sprache", "Language"}};
const TLangText txtSoftwareUpdateGroup{{"Software-Update", "Software update"}};
const TLangText txtAutoStart{{"Beim A&nmelden starten", "Start at lo&gin"}};
const TLangText txtAutoStartHint{{"Bei Aktivierung wird Quorvantis bei jeder Anmeldung am Desktop automatisch gestartet", "Quorvantis will be started automatically whenever you log in to the desktop when activated."}};
const TLangText txtHelpTitle{{"Schneller und einfacher Zugang zu Ihren Lieblingsshops", "Faster and easier access to your favorite shops."}};
const TLangText txtHelpText{{"Öffnen Sie Ihre Lieblingsshops mit einem einzigen Tool und starten Sie zukünftig direkt durch zu den günstigsten Produkten. Mit Quorvantis gelangen Sie per Knopfdruck schnell und einfach zum Ziel.", "Call your favorite shops with one tool. Search for gifts or the cheapest products: with Quorvantis you get directly to where you want to go."}};
const TLangText txtAboutTitle{{"Quorvantis - der Schnellzugang zu Ihren Lieblingsshops", "Quorvantis - The direct way to your favorite shops"}};
const TLangText txtAboutText{{"Öffnen Sie Ihre Lieblingsshops mit einem einzigen Tool und starten Sie zukünftig direkt durch zu den günstigsten Produkten. Mit Quorvantis gelangen Sie per Knopfdruck schnell und einfach zum Ziel.", "Call your favorite shops with one tool. Search for gifts or the cheapest products: with Quorvantis you get directly to where you want to go."}};
const TLangText txtPersonalLinksLabel{{"Ändern Sie Ihre eigenen Links oder fügen Sie weitere hinzu", "Add or remove your favorite links"}};
const TLangText txtAboutCaption{{"Info", "Info"}};
const TLangText txtSearchCaption{{"Suche", "Search"}};
const TLangText txtEditFavoritesCaption{{"Favoriten hinzufügen/bearbeiten", "Add/edit bookmarks"}};
const TLangText txtConfirmDelete{{"Löschen bestätigen", "Confirm"}};
const TLangText txtConfirmDeleteItem{{"Soll der Eintrag \"%s\" wirklich gelöscht werden?", "Should \"%s\" really be deleted?"}};
const TLangText txtHelpFileMissing{{"Die Hilfe-Datei kann nicht gefunden werden. Bitte installieren Sie das Programm erneut.", "No help file found. Please reinstall application."}};
const TLangText txtNameExists{{"Es existiert bereits ein Eintrag mit diesem Namen!\r\nWollen Sie diesen überschreiben?", "This name already exists!\r\nDo you want to overwrite it?"}};
const TLangText txtNoItemsFound{{"Keine Einträge gefunden!", "No items found!"}};
const TLangText txtInvalidEmail{{"Bitte geben Sie eine gültige Email Adresse ein!", "Please specify a valid email address!"}};
const TLangText txtEditorAlreadyOpen{{"Es ist bereits ein Fenster zur Einrichtung eines Schnellzugang geöffnet.", "The window is already opened."}};
const TLangText txtInvalidEmailCaption{{"Email Adresse ungültig", "Invalid email address"}};
const TLangText txtNoFeedbackText{{"Bitte geben Sie einen Feedback Text an!", "Please specify a feedback text!"}};
const TLangText txtNoTextCaption{{"Kein Text angegeben", "No text specified"}};
const TLangText txtShopsUpdated{{"Shops aktualisiert", "Shops updated"}};
const TLangText txtFirstStartBalloon{{"Klicken Sie hier, um Quorvantis zu öffnen!", "Click here to open Quorvantis!"}};
const TLangText txtNoNewVersion{{"Keine neue Version verfügbar.", "No new version available."}};
const TLangText txtNoNewVersionText{{"Ihre Anwendung ist auf dem aktuellen Stand. Ein Update ist nicht erforderlich.", "Your application is up-to-date. No update is required."}};
const TLangText txtNewVersion{{"Neue Version verfügbar.", "New version available."}};
const TLangText txtNewVersionText{{"Es liegt eine neuere Version von Quorvantis vor! Sie können Ihre Version jetzt aktualisieren.", "There is a new version of Quorvantis! You can update your version now."}};
const TLangText txtNotUpToDateBalloon{{"Ihre Anwendung ist nicht auf dem neuesten Stand. Klicken Sie auf \"Software-Update\" unter \"Einstellungen\", um die aktuelle Version zu erhalten.", "Your application is not up-to-date. Click on Settings and then on Software update to get the latest version."}};
const TLangText txtVersionCheckError{{"Fehler bei der Versionskontrolle.", "An error occurred while checking the new version."}};
const TLangText txtTryLater{{"Bitte wiederholen Sie diesen Vorgang zu einem späteren Zeitpunkt.", "Please try again, later."}};
const TLangText txtCheckOutdatedBalloon{{"Ihre Anwendung wurde schon seit längerem nicht mehr aktualisiert. Klicken Sie auf \"Software-Update\" unter \"Einstellungen\", um nach der aktuellen Version zu suchen.", "This program has not been updated recently. Search for available updates by clicking on \"Settings\" and then on \"Update\" in the Software update section in the Quorvantis main menu."}};
// clang-format on

// clang-format off
const TLangText txtLinkNameBackslash{{"Ein Linkname darf kein \"\\\" enthalten. Bitte ändern Sie den Namen.", "A link name cannot contain \"\\\". Please change the name."}};
const TLangText txtAddressStartsWithDash{{"Eine Adresse darf nicht mit \"-\" beginnen: ein Browser läse sie als Option.", "An address cannot begin with \"-\": a browser would read it as an option."}};
const TLangText txtUnsendableCharacters{{"Diese Zeichen kann der Server nicht annehmen: %1\r\nBitte ändern Sie Ihre Eingabe; es wurde nichts gesendet.", "The server cannot accept these characters: %1\r\nPlease change your entry; nothing was sent."}};
const TLangText txtMenuLoadingShops{{"Shops werden geladen...", "Loading shops..."}};
const TLangText txtMenuNoShops{{"Keine Shops: Server nicht erreichbar", "No shops: server not reachable"}};
const TLangText txtShopsNotUpdated{{"Die Shops konnten nicht aktualisiert werden.\r\n%1\r\n\r\nBitte wiederholen Sie diesen Vorgang zu einem späteren Zeitpunkt.", "The shops could not be updated.\r\n%1\r\n\r\nPlease try again, later."}};
const TLangText txtSettingsStoreUnusable{{"Quorvantis kann seine Einstellungen nicht speichern und wird beendet.\r\n\r\nEinstellungen: %1\r\nFehler: %2\r\n\r\nBitte prüfen Sie, ob der Ordner beschreibbar ist und freier Speicherplatz vorhanden ist.", "Quorvantis cannot store its settings and ends.\r\n\r\nSettings: %1\r\nError: %2\r\n\r\nPlease check that the folder is writable and the disk is not full."}};
// clang-format on

const std::array<const TLangText*, TextCount>& AllTexts() {
#define QV_TEXT_ADDRESS(Name) &Name,
    static const std::array<const TLangText*, TextCount> Texts{QV_TEXTS(QV_TEXT_ADDRESS)};
#undef QV_TEXT_ADDRESS
    return Texts;
}

#pragma once

#include <QString>
#include <array>
#include <cstdint>

// Program version: the registry value `version`, the query value `version` and
// the argument of every version comparison.
inline constexpr const char* ProgramVersion = "2.2";
inline constexpr const char* ProgramName = "Quorvantis";

using TLanguage = uint8_t; // 0 German, 1 English

// A bilingual text: element 0 German, element 1 English (UTF-8 literals).
struct TLangText {
    const char* Text[2];
    // The text in CurrentLanguage.
    QString operator()() const;
    QString In(TLanguage Lang) const;
};

extern TLanguage CurrentLanguage;
// 0 and 1 are taken; any other value selects German.
void SetCurrentLanguage(int Lang);
// Drops every "&" hotkey marker; "&&" leaves one "&".
QString StripHotkey(const QString& Caption);

// The text table (all 94 constants), defined in uConst.cpp.
// clang-format off
#define QV_TEXTS(X) \
    X(txtHelpFile) \
    X(txtBtnAdd) \
    X(txtBtnAddHint) \
    X(txtBtnOpen) \
    X(txtBtnOpenHint) \
    X(txtBtnCancel) \
    X(txtBtnCancelHint) \
    X(txtCategories) \
    X(txtBtnClose) \
    X(txtBtnCloseHint) \
    X(txtBtnDelete) \
    X(txtBtnDeleteHint) \
    X(txtBtnEdit) \
    X(txtBtnEditHint) \
    X(txtEnglish) \
    X(txtMenuExit) \
    X(txtGerman) \
    X(txtBtnSaveNewsletter) \
    X(txtBtnSaveNewsletterHint) \
    X(txtHelp) \
    X(txtHelpHint) \
    X(txtMenuInfo) \
    X(txtBtnOk) \
    X(txtBtnOkHint) \
    X(txtNewsletterOrder) \
    X(txtNewsletterOrderHint) \
    X(txtBtnSave) \
    X(txtBtnSaveHint) \
    X(txtBtnSearch) \
    X(txtBtnSearchHint) \
    X(txtSearchWhat) \
    X(txtSearchWhere) \
    X(txtBtnSend) \
    X(txtBtnSendHint) \
    X(txtSettings) \
    X(txtShops) \
    X(txtSoftwareUpdate) \
    X(txtFeedbackSubject) \
    X(txtNewsletterCancel) \
    X(txtNewsletterCancelHint) \
    X(txtBtnUpdate) \
    X(txtBtnUpdateHint) \
    X(txtBtnUpdateShopsHint) \
    X(txtTitleLabel) \
    X(txtTitleHint) \
    X(txtURLLabel) \
    X(txtURLHint) \
    X(txtFeedback) \
    X(txtFeedbackTitle) \
    X(txtFeedbackPlaceholder) \
    X(txtFeedbackGeneral) \
    X(txtFeedbackSuggestShop) \
    X(txtFeedbackProblem) \
    X(txtFeedbackSent) \
    X(txtNewsletter) \
    X(txtDataSaved) \
    X(txtGewinnspiel) \
    X(txtGewinnspielEntered) \
    X(txtEmailHint) \
    X(txtCategoriesLabel) \
    X(txtShopsLabel) \
    X(txtInfo) \
    X(txtLanguage) \
    X(txtSoftwareUpdateGroup) \
    X(txtAutoStart) \
    X(txtAutoStartHint) \
    X(txtHelpTitle) \
    X(txtHelpText) \
    X(txtAboutTitle) \
    X(txtAboutText) \
    X(txtPersonalLinksLabel) \
    X(txtAboutCaption) \
    X(txtSearchCaption) \
    X(txtEditFavoritesCaption) \
    X(txtConfirmDelete) \
    X(txtConfirmDeleteItem) \
    X(txtHelpFileMissing) \
    X(txtNameExists) \
    X(txtNoItemsFound) \
    X(txtInvalidEmail) \
    X(txtEditorAlreadyOpen) \
    X(txtInvalidEmailCaption) \
    X(txtNoFeedbackText) \
    X(txtNoTextCaption) \
    X(txtShopsUpdated) \
    X(txtFirstStartBalloon) \
    X(txtNoNewVersion) \
    X(txtNoNewVersionText) \
    X(txtNewVersion) \
    X(txtNewVersionText) \
    X(txtNotUpToDateBalloon) \
    X(txtVersionCheckError) \
    X(txtTryLater) \
    X(txtCheckOutdatedBalloon)
// clang-format on

#define QV_DECLARE_TEXT(Name) extern const TLangText Name;
QV_TEXTS(QV_DECLARE_TEXT)
#undef QV_DECLARE_TEXT

#define QV_COUNT_TEXT(Name) +1
inline constexpr int TextCount = 0 QV_TEXTS(QV_COUNT_TEXT);
#undef QV_COUNT_TEXT

// Every text constant in table order (for tests and tools).
const std::array<const TLangText*, TextCount>& AllTexts();

// Texts for refusals the table has no words for: nothing is refused or changed
// without telling the user why.
extern const TLangText txtLinkNameBackslash;
extern const TLangText txtAddressStartsWithDash;
extern const TLangText txtUnsendableCharacters;
extern const TLangText txtSettingsStoreUnusable;
// The menu without any catalogue: while the first one is fetched, and when none came.
extern const TLangText txtMenuLoadingShops;
extern const TLangText txtMenuNoShops;
// The shops button of the settings when the refresh failed (%1: why).
extern const TLangText txtShopsNotUpdated;

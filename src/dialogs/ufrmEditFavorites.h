#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
struct TURLItem;

// The bookmark editor: name and address of one personal link, edited in memory
// only (storing is TMenuItemManager's business). Modal, fixed 432 x 96, stays on
// top. Save is enabled while the trimmed name is not empty and the trimmed address
// is neither empty nor just "http://". Enter in the name moves to the address,
// Enter in the address saves (when Save is enabled), Escape cancels. Save refuses,
// with the reason and the entries kept, a name that cannot be stored as written
// and an address that could never be opened.
//
// A request while the editor is already open does not open it again: it shows
// the warning txtEditorAlreadyOpen and returns false, so the open edit is never
// overwritten behind the user's back.
class TProgram;

class TfrmEditFavorites final : public QDialog {
    Q_OBJECT
public:
    // Follows the program's language.
    explicit TfrmEditFavorites(TProgram& Program);
    explicit TfrmEditFavorites(QWidget* Parent = nullptr);
    Q_DISABLE_COPY_MOVE(TfrmEditFavorites)

    // True after Save: Item.Name and Item.URL then hold the trimmed entries
    // (Item.Icon is never touched). False after Cancel; Item is unchanged.
    bool EditItem(TURLItem& Item);
    void ApplyLanguage();
    bool IsEditing() const { return FEditing; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    void edtTitleChange();
    void btnSaveClick();
    void FormShow();

    QLabel* labTitle;
    QLineEdit* edtTitle;
    QLabel* labURL;
    QLineEdit* edtURL;
    QPushButton* btnSave;
    QPushButton* btnCancel;
    bool FEditing = false;
};

// The shared editor, created on first use (parentless; deleted with the application).
TfrmEditFavorites& frmEditFavorites(TProgram& Program);
// The shared editor when it exists (for ApplyLanguage), else nullptr.
TfrmEditFavorites* ExistingEditFavorites();
// Edits Item in the shared editor. False when cancelled, when the editor is already
// open (after a warning) or on any error; Item is then unchanged.
bool EditFavorite(TProgram& Program, TURLItem& Item);

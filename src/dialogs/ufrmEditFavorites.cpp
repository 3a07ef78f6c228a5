#include "ufrmEditFavorites.h"

#include "uAccessKeys.h"
#include "uConst.h"
#include "uIconFiles.h"
#include "uSharedWindow.h"
#include "uTMenuItemManager.h"
#include "uTProgram.h"
#include "uTools.h"
#include "uWindowSupport.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {

const QString HttpPrefix = QStringLiteral("http://");

bool IsEnterKey(const QEvent* Event) {
    if (Event->type() != QEvent::KeyPress)
        return false;
    const int Key = static_cast<const QKeyEvent*>(Event)->key();
    return Key == Qt::Key_Return || Key == Qt::Key_Enter;
}

} // namespace

TfrmEditFavorites::TfrmEditFavorites(TProgram& Program) : TfrmEditFavorites() {
    connect(&Program, &TProgram::LanguageChanged, this, &TfrmEditFavorites::ApplyLanguage, Qt::UniqueConnection);
}

TfrmEditFavorites::TfrmEditFavorites(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmEditFavorites"));
    setWindowTitle(QStringLiteral("Edit/add bookmarks"));
    setModal(true);
    setFixedSize(432, 96);

    edtTitle = new QLineEdit(this);
    edtTitle->setObjectName(QStringLiteral("edtTitle"));
    edtTitle->setGeometry(104, 24, 218, 21);
    edtTitle->setMaxLength(100);
    labTitle = new QLabel(QStringLiteral("&Description"), this);
    labTitle->setObjectName(QStringLiteral("labTitle"));
    labTitle->setGeometry(4, 27, 92, 16);
    labTitle->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labTitle->setBuddy(edtTitle);

    edtURL = new QLineEdit(this);
    edtURL->setObjectName(QStringLiteral("edtURL"));
    edtURL->setGeometry(104, 56, 218, 21);
    edtURL->setMaxLength(300);
    labURL = new QLabel(QStringLiteral("&URL"), this);
    labURL->setObjectName(QStringLiteral("labURL"));
    labURL->setGeometry(4, 59, 92, 16);
    labURL->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labURL->setBuddy(edtURL);

    btnSave = new QPushButton(QStringLiteral("&Save"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setGeometry(334, 24, 84, 25);
    btnSave->setAutoDefault(true); // Return or Enter presses the focused button
    btnCancel = new QPushButton(QStringLiteral("C&ancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(334, 56, 84, 25);
    btnCancel->setAutoDefault(true);

    setTabOrder(edtTitle, edtURL);
    setTabOrder(edtURL, btnSave);
    setTabOrder(btnSave, btnCancel);

    connect(edtTitle, &QLineEdit::textChanged, this, &TfrmEditFavorites::edtTitleChange);
    connect(edtURL, &QLineEdit::textChanged, this, &TfrmEditFavorites::edtTitleChange);
    connect(btnSave, &QPushButton::clicked, this, &TfrmEditFavorites::btnSaveClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Keys are seen before the controls handle them.
    for (QWidget* Control : {static_cast<QWidget*>(edtTitle), static_cast<QWidget*>(edtURL),
                             static_cast<QWidget*>(btnSave), static_cast<QWidget*>(btnCancel)})
        Control->installEventFilter(this);
    edtTitleChange();
}

void TfrmEditFavorites::edtTitleChange() {
    const QString URL = edtURL->text().trimmed();
    btnSave->setEnabled(!edtTitle->text().trimmed().isEmpty() && !URL.isEmpty() && URL != HttpPrefix);
}

void TfrmEditFavorites::btnSaveClick() {
    // Said at once, while the entries are still here to change.
    QString Problem = LinkNameProblem(edtTitle->text().trimmed());
    QLineEdit* Field = edtTitle;
    if (Problem.isEmpty()) {
        Problem = AddressProblem(edtURL->text().trimmed());
        Field = edtURL;
    }
    if (!Problem.isEmpty()) {
        ShowWarning(windowTitle(), Problem);
        Field->setFocus();
        return;
    }
    accept();
}

bool TfrmEditFavorites::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Escape) {
        reject();
        return true;
    }
    if (IsEnterKey(Event)) {
        if (Watched == edtTitle) {
            edtURL->setFocus();
            return true;
        }
        if (Watched == edtURL) {
            if (btnSave->isEnabled())
                btnSave->click();
            return true;
        }
    }
    return QDialog::eventFilter(Watched, Event);
}

void TfrmEditFavorites::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    FormShow();
}

void TfrmEditFavorites::FormShow() {
    CentreOnScreen(*this);
    edtTitle->setFocus();
}

void TfrmEditFavorites::ApplyLanguage() {
    try {
        setWindowTitle(txtEditFavoritesCaption());
        labTitle->setText(txtTitleLabel());
        edtTitle->setToolTip(txtTitleHint());
        edtTitle->setStatusTip(txtTitleHint());
        labURL->setText(txtURLLabel());
        edtURL->setToolTip(txtURLHint());
        edtURL->setStatusTip(txtURLHint());
        btnCancel->setText(txtBtnCancel());
        btnCancel->setToolTip(txtBtnCancelHint());
        btnCancel->setStatusTip(txtBtnCancelHint());
        btnSave->setText(txtBtnSave());
        btnSave->setToolTip(txtBtnSaveHint());
        btnSave->setStatusTip(txtBtnSaveHint());
        AssignWidgetAccessKeys(*this);
    } catch (const std::exception&) {
        // Missing texts leave the previous captions; nothing to report.
    }
}

bool TfrmEditFavorites::EditItem(TURLItem& Item) {
    edtTitle->setText(Item.Name);
    edtURL->setText(Item.URL);
    if (edtURL->text().trimmed().isEmpty())
        edtURL->setText(HttpPrefix);
    edtTitleChange();
    ApplyLanguage();
    FEditing = true;
    const int Result = exec();
    FEditing = false;
    if (Result != QDialog::Accepted)
        return false;
    Item.Name = edtTitle->text().trimmed();
    Item.URL = edtURL->text().trimmed();
    return true;
}

TfrmEditFavorites& frmEditFavorites(TProgram& Program) {
    TfrmEditFavorites& Editor = TSharedWindow<TfrmEditFavorites>::Obtain(Program);
    // The one editor serves whichever program asks (tests run several in one process).
    QObject::connect(&Program, &TProgram::LanguageChanged, &Editor, &TfrmEditFavorites::ApplyLanguage,
                     Qt::UniqueConnection);
    return Editor;
}

TfrmEditFavorites* ExistingEditFavorites() {
    return TSharedWindow<TfrmEditFavorites>::Existing();
}

bool EditFavorite(TProgram& Program, TURLItem& Item) {
    try {
        TfrmEditFavorites& Editor = frmEditFavorites(Program);
        if (Editor.IsEditing()) {
            ShowWarning(QString::fromLatin1(ProgramName), txtEditorAlreadyOpen());
            return false;
        }
        TURLItem Edited = Item;
        if (!Editor.EditItem(Edited))
            return false;
        Item = Edited;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

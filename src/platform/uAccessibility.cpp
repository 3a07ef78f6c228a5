#include "uAccessibility.h"

#include "uAccessKeys.h"
#include "uTCheckListBox.h"
#include "uTLinkLabel.h"
#include "uTMenuWindow.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTextDocument>
#include <QTextEdit>

namespace {

constexpr char DecorativeProperty[] = "decorative";
constexpr char DocumentProperty[] = "qvDocument";

// One line of a check list. Qt's own item interface reports "checked" but neither
// "checkable" nor the grayed state, so a screen reader cannot tell a check list
// from a plain one. The line is a check box to it: Qt 6.4's desktop bridge does not
// pass "checkable" on, and the role says as much to every screen reader.
class TCheckLineAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TCheckLineAccessible(TCheckListBox* List, int Row) : FList(List), FRow(Row) {}

    bool isValid() const override { return FList && FRow < FList->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return FList ? FList->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(FList.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::CheckBox; }
    void setText(QAccessible::Text, const QString&) override {}

    // A line may be spoken otherwise than drawn ("Mode, Schuhe" for "Mode->Schuhe").
    QString text(QAccessible::Text Kind) const override {
        return isValid() && Kind == QAccessible::Name ? FList->SpokenText(FRow) : QString();
    }

    QRect rect() const override {
        const QListWidgetItem* Line = isValid() ? FList->item(FRow) : nullptr;
        if (Line == nullptr)
            return {};
        const QRect Box = FList->visualItemRect(Line);
        return QRect(FList->viewport()->mapToGlobal(Box.topLeft()), Box.size());
    }

    QAccessible::State state() const override {
        QAccessible::State S;
        const QListWidgetItem* Line = isValid() ? FList->item(FRow) : nullptr;
        if (Line == nullptr) {
            S.invalid = true;
            return S;
        }
        S.focusable = true;
        S.selectable = true;
        S.checkable = true;
        S.selected = Line->isSelected();
        S.focused = FList->hasFocus() && FList->currentRow() == FRow;
        S.checked = Line->checkState() == Qt::Checked;
        S.checkStateMixed = Line->checkState() == Qt::PartiallyChecked;
        S.invisible = !FList->isVisible();
        S.offscreen = !FList->viewport()->rect().intersects(FList->visualItemRect(Line));
        return S;
    }

    void* interface_cast(QAccessible::InterfaceType Type) override {
        return Type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {toggleAction()}; }
    void doAction(const QString& Name) override {
        if (Name == toggleAction() && isValid())
            FList->ToggleLine(FRow);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<TCheckListBox> FList;
    int FRow;
};

class TCheckListAccessible final : public QAccessibleWidget {
public:
    explicit TCheckListAccessible(TCheckListBox* List) : QAccessibleWidget(List, QAccessible::List) {}
    ~TCheckListAccessible() override {
        for (const QAccessible::Id Id : std::as_const(FLines))
            QAccessible::deleteAccessibleInterface(Id);
    }

    int childCount() const override { return List()->count(); }
    QAccessibleInterface* child(int Index) const override {
        if (Index < 0 || Index >= childCount())
            return nullptr;
        if (const auto Known = FLines.constFind(Index); Known != FLines.cend())
            return QAccessible::accessibleInterface(*Known);
        auto* Line = new TCheckLineAccessible(List(), Index);
        FLines.insert(Index, QAccessible::registerAccessibleInterface(Line));
        return Line;
    }
    int indexOfChild(const QAccessibleInterface* Child) const override {
        for (auto It = FLines.cbegin(); It != FLines.cend(); ++It)
            if (QAccessible::accessibleInterface(It.value()) == Child)
                return It.key();
        return -1;
    }
    QAccessibleInterface* childAt(int X, int Y) const override {
        const QPoint Local = List()->viewport()->mapFromGlobal(QPoint(X, Y));
        const QListWidgetItem* Line = List()->itemAt(Local);
        return Line ? child(List()->row(Line)) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        return List()->hasFocus() && List()->currentRow() >= 0 ? child(List()->currentRow()) : nullptr;
    }

private:
    TCheckListBox* List() const { return static_cast<TCheckListBox*>(widget()); }
    mutable QHash<int, QAccessible::Id> FLines;
};

// Qt leaves menus out of their parent widget's children (a menu is normally a
// pop-up of its own); the show window holds one as a plain child.
class TMenuWindowAccessible final : public QAccessibleWidget {
public:
    explicit TMenuWindowAccessible(TMenuWindow* Window) : QAccessibleWidget(Window, QAccessible::Window) {}

    int childCount() const override { return QAccessibleWidget::childCount() + (Menu() ? 1 : 0); }
    QAccessibleInterface* child(int Index) const override {
        const int Own = QAccessibleWidget::childCount();
        if (Index == Own && Menu())
            return QAccessible::queryAccessibleInterface(Menu());
        return QAccessibleWidget::child(Index);
    }
    int indexOfChild(const QAccessibleInterface* Child) const override {
        if (Child != nullptr && Menu() != nullptr && Child->object() == Menu())
            return QAccessibleWidget::childCount();
        return QAccessibleWidget::indexOfChild(Child);
    }
    // The highlighted entry of the level shown (Qt's menu answers with the menu itself).
    QAccessibleInterface* focusChild() const override {
        QMenu* Shown = Menu();
        if (Shown == nullptr)
            return nullptr;
        QAccessibleInterface* Level = QAccessible::queryAccessibleInterface(Shown);
        const qsizetype Index = Shown->actions().indexOf(Shown->activeAction());
        QAccessibleInterface* Entry = Index >= 0 ? Level->child(static_cast<int>(Index)) : nullptr;
        return Entry ? Entry : Level;
    }

private:
    QMenu* Menu() const {
        QMenu* Shown = static_cast<TMenuWindow*>(widget())->CurrentMenu();
        return Shown && Shown->isVisible() ? Shown : nullptr;
    }
};

// The access key a caption marks with "&", as screen readers expect it ("Alt+K").
QStringList AccessKeyBinding(const QString& Caption) {
    const QKeySequence Key = QKeySequence::mnemonic(Caption);
    return Key.isEmpty() ? QStringList() : QStringList{Key.toString(QKeySequence::PortableText)};
}

class TLinkAccessible final : public QAccessibleWidget {
public:
    explicit TLinkAccessible(TLinkLabel* Label) : QAccessibleWidget(Label, QAccessible::Link) {}

    QString text(QAccessible::Text Kind) const override {
        const QString Own = QAccessibleWidget::text(Kind);
        if (Kind == QAccessible::Name && Own.isEmpty())
            return static_cast<TLinkLabel*>(widget())->text();
        if (Kind == QAccessible::Description && Own.isEmpty())
            return widget()->toolTip();
        return Own;
    }
    QAccessible::State state() const override {
        QAccessible::State S = QAccessibleWidget::state();
        S.linked = true;
        return S;
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& Name) override {
        if (Name == pressAction())
            static_cast<TLinkLabel*>(widget())->Click();
        else
            QAccessibleWidget::doAction(Name);
    }
    QStringList keyBindingsForAction(const QString& Name) const override {
        return Name == pressAction() ? AccessKeyBinding(static_cast<TLinkLabel*>(widget())->text()) : QStringList();
    }
};

// A text label; as the caption of a field, its access key reaches the field, and a
// screen reader learns the key from here (Qt's own label object reports none). Made
// for every text label: a label may get its field after it was first reported.
class TBuddyLabelAccessible final : public QAccessibleWidget {
public:
    explicit TBuddyLabelAccessible(QLabel* Label) : QAccessibleWidget(Label, QAccessible::StaticText) {}

    QString text(QAccessible::Text Kind) const override {
        if (Kind != QAccessible::Name)
            return QAccessibleWidget::text(Kind);
        if (!widget()->accessibleName().isEmpty())
            return widget()->accessibleName();
        QString Text = Label()->text();
        if (Label()->textFormat() == Qt::RichText ||
            (Label()->textFormat() == Qt::AutoText && Qt::mightBeRichText(Text))) {
            QTextDocument Document;
            Document.setHtml(Text);
            Text = Document.toPlainText();
        }
        // Without a field the label shows an "&" as it is.
        return Label()->buddy() != nullptr ? ShownCaption(Text) : Text;
    }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation Match) const override {
        auto Found = QAccessibleWidget::relations(Match);
        if ((Match & QAccessible::Labelled) && Label()->buddy() != nullptr)
            if (QAccessibleInterface* Buddy = QAccessible::queryAccessibleInterface(Label()->buddy()))
                Found.append({Buddy, QAccessible::Labelled});
        return Found;
    }
    QStringList actionNames() const override {
        return Label()->buddy() != nullptr ? QStringList{setFocusAction()} : QStringList();
    }
    void doAction(const QString& Name) override {
        if (Name == setFocusAction() && Label()->buddy() != nullptr)
            Label()->buddy()->setFocus(Qt::ShortcutFocusReason);
    }
    QStringList keyBindingsForAction(const QString& Name) const override {
        return Name == setFocusAction() && Label()->buddy() != nullptr ? AccessKeyBinding(Label()->text())
                                                                       : QStringList();
    }

private:
    QLabel* Label() const { return static_cast<QLabel*>(widget()); }
};

// A text to read (the help): a document with its text, caret and selection.
class TDocumentAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TDocumentAccessible(QTextEdit* View) : QAccessibleWidget(View, QAccessible::Document) {}

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessible::State state() const override {
        QAccessible::State S = QAccessibleWidget::state();
        S.readOnly = true;
        S.multiLine = true;
        S.focusable = true;
        return S;
    }
    void* interface_cast(QAccessible::InterfaceType Type) override {
        if (Type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(Type);
    }

    void selection(int Index, int* Start, int* End) const override {
        const QTextCursor Cursor = View()->textCursor();
        *Start = Index == 0 && Cursor.hasSelection() ? Cursor.selectionStart() : 0;
        *End = Index == 0 && Cursor.hasSelection() ? Cursor.selectionEnd() : 0;
    }
    int selectionCount() const override { return View()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int Start, int End) override { setSelection(0, Start, End); }
    void removeSelection(int) override {
        QTextCursor Cursor = View()->textCursor();
        Cursor.clearSelection();
        View()->setTextCursor(Cursor);
    }
    void setSelection(int, int Start, int End) override {
        QTextCursor Cursor = View()->textCursor();
        Cursor.setPosition(Clamped(Start));
        Cursor.setPosition(Clamped(End), QTextCursor::KeepAnchor);
        View()->setTextCursor(Cursor);
    }
    int cursorPosition() const override { return View()->textCursor().position(); }
    void setCursorPosition(int Position) override {
        QTextCursor Cursor = View()->textCursor();
        Cursor.setPosition(Clamped(Position));
        View()->setTextCursor(Cursor);
    }
    QString text(int Start, int End) const override {
        return View()->document()->toPlainText().mid(Start, End - Start);
    }
    int characterCount() const override { return qMax(0, View()->document()->characterCount() - 1); }
    QRect characterRect(int Offset) const override {
        QTextCursor Cursor(View()->document());
        Cursor.setPosition(Clamped(Offset));
        QRect Box = View()->cursorRect(Cursor);
        Box.setWidth(qMax(1, View()->fontMetrics().averageCharWidth()));
        return QRect(View()->viewport()->mapToGlobal(Box.topLeft()), Box.size());
    }
    int offsetAtPoint(const QPoint& Point) const override {
        const QPoint Local = View()->viewport()->mapFromGlobal(Point);
        return View()->viewport()->rect().contains(Local) ? View()->cursorForPosition(Local).position() : -1;
    }
    void scrollToSubstring(int Start, int) override {
        QTextCursor Cursor(View()->document());
        Cursor.setPosition(Clamped(Start));
        View()->setTextCursor(Cursor);
        View()->ensureCursorVisible();
    }
    QString attributes(int Offset, int* Start, int* End) const override {
        *Start = Offset;
        *End = Offset;
        return {};
    }
    // QAccessibleWidget and the text interface both name this; the widget's is meant.
    QString text(QAccessible::Text Kind) const override { return QAccessibleWidget::text(Kind); }

private:
    QTextEdit* View() const { return static_cast<QTextEdit*>(widget()); }
    int Clamped(int Position) const { return qBound(0, Position, characterCount()); }
};

// Present for the eye only: not shown to a screen reader, as aria-hidden does.
class TDecorativeAccessible final : public QAccessibleWidget {
public:
    explicit TDecorativeAccessible(QWidget* Picture) : QAccessibleWidget(Picture, QAccessible::Graphic) {}
    QString text(QAccessible::Text) const override { return {}; }
    QAccessible::State state() const override {
        QAccessible::State S = QAccessibleWidget::state();
        S.invisible = true;
        S.focusable = false;
        return S;
    }
};

QAccessibleInterface* Factory(const QString& ClassName, QObject* Object) {
    if (ClassName == QLatin1String("TCheckListBox"))
        return new TCheckListAccessible(static_cast<TCheckListBox*>(Object));
    if (ClassName == QLatin1String("TMenuWindow"))
        return new TMenuWindowAccessible(static_cast<TMenuWindow*>(Object));
    if (ClassName == QLatin1String("TLinkLabel"))
        return new TLinkAccessible(static_cast<TLinkLabel*>(Object));
    if (ClassName == QLatin1String("QLabel") && Object->property(DecorativeProperty).toBool())
        return new TDecorativeAccessible(static_cast<QWidget*>(Object));
    if (Object->property(DocumentProperty).toBool() && qobject_cast<QTextEdit*>(Object) != nullptr)
        return new TDocumentAccessible(static_cast<QTextEdit*>(Object));
    if (ClassName == QLatin1String("QLabel") && static_cast<QLabel*>(Object)->pixmap().isNull() &&
        static_cast<QLabel*>(Object)->movie() == nullptr)
        return new TBuddyLabelAccessible(static_cast<QLabel*>(Object));
    // Our tool windows are plain widgets: without this they would be announced as
    // filler, not as a window of their own.
    if (Object->isWidgetType() && static_cast<QWidget*>(Object)->isWindow() &&
        ClassName == QLatin1String(Object->metaObject()->className()) && ClassName.startsWith(QLatin1String("Tfrm")) &&
        Object->metaObject()->superClass() == &QWidget::staticMetaObject)
        return new QAccessibleWidget(static_cast<QWidget*>(Object), QAccessible::Window);
    return nullptr;
}

} // namespace

void InstallAccessibleInterfaces() {
    static const bool Installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    Q_UNUSED(Installed);
}

void MarkDecorative(QWidget& Picture) {
    InstallAccessibleInterfaces();
    Picture.setProperty(DecorativeProperty, true);
}

void MarkDocument(QTextEdit& View) {
    InstallAccessibleInterfaces();
    View.setProperty(DocumentProperty, true);
}

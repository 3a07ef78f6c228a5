#include "uTCheckListBox.h"

#include "uAccessibility.h"

#include <QAccessible>
#include <QKeyEvent>

TCheckListBox::TCheckListBox(QWidget* Parent) : QListWidget(Parent) {
    InstallAccessibleInterfaces();
    ShowFocus(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTextElideMode(Qt::ElideNone); // long category paths scroll instead of losing their end
    // Without the user-tristate flag the item view toggles exactly as wanted:
    // checked -> unchecked, anything else -> checked.
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* Line) {
        // A click on a box leaves the selection alone in Qt; the line clicked is the one meant.
        if (!Line->isSelected())
            SetItemIndex(row(Line));
        Q_EMIT Click();
    });
    // A box turned by the user or from code: screen readers hear the new state.
    connect(this, &QListWidget::itemChanged, this, [this](QListWidgetItem* Line) {
        if (!QAccessible::isActive())
            return;
        QAccessible::State Changed;
        Changed.checked = true;
        Changed.checkStateMixed = true;
        QAccessibleStateChangeEvent Event(this, Changed);
        Event.setChild(row(Line));
        QAccessible::updateAccessibility(&Event);
    });
}

void TCheckListBox::AddLine(const QString& Text, Qt::CheckState State) {
    auto* Line = new QListWidgetItem(Text, this);
    Line->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    Line->setCheckState(State);
}

Qt::CheckState TCheckListBox::State(int Index) const {
    const QListWidgetItem* Line = item(Index);
    return Line ? Line->checkState() : Qt::Unchecked;
}

void TCheckListBox::SetState(int Index, Qt::CheckState State) {
    if (QListWidgetItem* Line = item(Index))
        Line->setCheckState(State);
}

int TCheckListBox::ItemIndex() const {
    const QList<QListWidgetItem*> Selected = selectedItems();
    return Selected.isEmpty() ? -1 : row(Selected.first());
}

void TCheckListBox::SetItemIndex(int Index) {
    if (Index < 0 || Index >= count()) {
        clearSelection();
        return;
    }
    setCurrentRow(Index, QItemSelectionModel::ClearAndSelect);
}

void TCheckListBox::ToggleLine(int Index) {
    QListWidgetItem* Line = item(Index);
    if (Line == nullptr)
        return;
    SetItemIndex(Index);
    Line->setCheckState(Line->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    Q_EMIT Click();
}

void TCheckListBox::keyPressEvent(QKeyEvent* Event) {
    const int Before = ItemIndex();
    const Qt::CheckState StateBefore = State(Before);
    // Space toggles the current line, which need not be the selected one (after
    // tabbing in, or Ctrl+arrow): that line is the one the user meant.
    const int Current = currentRow();
    const Qt::CheckState CurrentBefore = State(Current);
    QListWidget::keyPressEvent(Event);
    if (Current >= 0 && currentRow() == Current && State(Current) != CurrentBefore) {
        if (ItemIndex() != Current)
            SetItemIndex(Current);
        Q_EMIT Click();
        return;
    }
    const int After = ItemIndex();
    if (After >= 0 && (After != Before || State(After) != StateBefore))
        Q_EMIT Click();
}

QString TCheckListBox::SpokenText(int Index) const {
    const QListWidgetItem* Line = item(Index);
    if (Line == nullptr)
        return {};
    if (FPathSeparator.isEmpty())
        return Line->text();
    QStringList Levels = Line->text().split(FPathSeparator);
    Levels.removeAll(QString());
    return Levels.join(QStringLiteral(", "));
}

void TCheckListBox::focusInEvent(QFocusEvent* Event) {
    ShowFocus(true);
    QListWidget::focusInEvent(Event);
}

void TCheckListBox::focusOutEvent(QFocusEvent* Event) {
    ShowFocus(false);
    QListWidget::focusOutEvent(Event);
}

void TCheckListBox::ShowFocus(bool Focused) {
    // Only the colours set here are the list's own; everything else follows the window.
    QPalette Colours;
    if (!Focused) {
        // The text colour on the background shaded a fifth towards it: as readable as any
        // line, light or dark theme, and nothing like the highlight of the focused list.
        const QColor Text = palette().color(QPalette::Active, QPalette::Text);
        const QColor Base = palette().color(QPalette::Active, QPalette::Base);
        const QColor Shade((Base.red() * 4 + Text.red()) / 5, (Base.green() * 4 + Text.green()) / 5,
                           (Base.blue() * 4 + Text.blue()) / 5);
        for (const QPalette::ColorGroup Group : {QPalette::Active, QPalette::Inactive}) {
            Colours.setColor(Group, QPalette::Highlight, Shade);
            Colours.setColor(Group, QPalette::HighlightedText, Text);
        }
    }
    setPalette(Colours);
}

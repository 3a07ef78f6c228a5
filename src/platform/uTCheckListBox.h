#pragma once

#include <QListWidget>

// A check list: one line per text, each with a check box. Lines may be set to
// the grayed state from code, but the user never produces it: a click on a box
// turns unchecked into checked, checked into unchecked and grayed into checked.
// Click is emitted after a mouse click on a line (once its box has changed) and
// after the keyboard moved the selection or toggled a box, so a handler always
// sees the new state. A line whose box the user changed, by key or mouse, is made
// the selected line first, so the handler's ItemIndex is always that line.
class TCheckListBox final : public QListWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCheckListBox)
public:
    explicit TCheckListBox(QWidget* Parent = nullptr);

    void AddLine(const QString& Text, Qt::CheckState State = Qt::Unchecked);
    Qt::CheckState State(int Index) const;
    void SetState(int Index, Qt::CheckState State);
    bool Checked(int Index) const { return State(Index) == Qt::Checked; }
    // The selected line, -1 when none.
    int ItemIndex() const;
    void SetItemIndex(int Index);
    // Selects line Index and turns its box as a click on it does, then emits Click.
    void ToggleLine(int Index);
    // Lines are paths whose levels Separator joins; screen readers hear the levels
    // as a list ("Mode, Schuhe" for "Mode->Schuhe").
    void SetPathSeparator(const QString& Separator) { FPathSeparator = Separator; }
    // Line Index as a screen reader says it.
    QString SpokenText(int Index) const;

Q_SIGNALS:
    void Click();

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;

private:
    // Draws the current line in the theme's highlight while the list has the focus,
    // in a quiet grey otherwise: of two lists side by side, one is plainly active.
    void ShowFocus(bool Focused);

    QString FPathSeparator;
};

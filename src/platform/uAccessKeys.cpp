#include "uAccessKeys.h"

#include <QAbstractButton>
#include <QAction>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>
#include <functional>

namespace {

constexpr const char* AuthoredProperty = "qvAuthoredCaption";
constexpr const char* KeyedProperty = "qvKeyedCaption";

// What a caption shows: "&&" as one ampersand, access key marks removed; Key
// receives the shown position of the marked character (-1 without one).
QString Shown(const QString& Caption, qsizetype* Key = nullptr) {
    QString Text;
    Text.reserve(Caption.size());
    qsizetype Marked = -1;
    for (qsizetype I = 0; I < Caption.size(); ++I) {
        const QChar C = Caption.at(I);
        if (C != QLatin1Char('&') || I + 1 == Caption.size()) {
            Text.append(C);
            continue;
        }
        ++I;
        if (Caption.at(I) != QLatin1Char('&') && Marked < 0)
            Marked = Text.size();
        Text.append(Caption.at(I));
    }
    if (Key != nullptr)
        *Key = Marked;
    return Text;
}

QString WithKeyAt(const QString& Text, qsizetype Key) {
    QString Caption;
    Caption.reserve(Text.size() + 2);
    for (qsizetype I = 0; I < Text.size(); ++I) {
        if (I == Key)
            Caption.append(QLatin1Char('&'));
        if (Text.at(I) == QLatin1Char('&'))
            Caption.append(QLatin1Char('&'));
        Caption.append(Text.at(I));
    }
    return Caption;
}

// Keys handed out are those every keyboard layout types alike.
bool Typable(QChar C) {
    return C.unicode() < 128 && C.isLetterOrNumber();
}

// The position of the first free character of Text, the first character and
// word starts first; -1 when none is free.
qsizetype FreeKey(const QString& Text, const QSet<QChar>& Taken) {
    auto Free = [&](qsizetype I) { return Typable(Text.at(I)) && !Taken.contains(Text.at(I).toUpper()); };
    for (qsizetype I = 0; I < Text.size(); ++I)
        if ((I == 0 || !Text.at(I - 1).isLetterOrNumber()) && Free(I))
            return I;
    for (qsizetype I = 0; I < Text.size(); ++I)
        if (Free(I))
            return I;
    return -1;
}

// The caption as the program last wrote it: a caption changed since this function
// last set it counts as newly written.
QString Authored(QObject& Owner, const QString& Current) {
    if (Owner.property(KeyedProperty).toString() == Current && Owner.property(AuthoredProperty).isValid())
        return Owner.property(AuthoredProperty).toString();
    Owner.setProperty(AuthoredProperty, Current);
    return Current;
}

struct TCaptioned {
    QObject* Owner;
    std::function<QString()> Get;
    std::function<void(const QString&)> Set;
};

void Apply(const QList<TCaptioned>& Controls, QSet<QChar>& Taken) {
    QStringList Captions;
    Captions.reserve(Controls.size());
    for (const TCaptioned& Control : Controls)
        Captions << Authored(*Control.Owner, Control.Get());
    const QStringList Keyed = AssignAccessKeys(Captions, Taken);
    for (qsizetype I = 0; I < Controls.size(); ++I) {
        Controls[I].Owner->setProperty(KeyedProperty, Keyed[I]);
        if (Controls[I].Get() != Keyed[I])
            Controls[I].Set(Keyed[I]);
    }
}

// A tab page of a tab control (also one taken out of it for a while).
bool InTabPage(const QWidget* Widget, const QWidget* Scope) {
    for (const QWidget* Up = Widget->parentWidget(); Up != nullptr && Up != Scope; Up = Up->parentWidget())
        if (qobject_cast<const QStackedWidget*>(Up) && qobject_cast<const QTabWidget*>(Up->parentWidget()))
            return true;
    return false;
}

QList<TCaptioned> CaptionedControls(QWidget& Scope, bool SkipTabPages) {
    QList<TCaptioned> Controls;
    for (QWidget* Widget : Scope.findChildren<QWidget*>()) {
        if (Widget->isWindow() || Widget->isHidden() || (SkipTabPages && InTabPage(Widget, &Scope)))
            continue;
        if (qobject_cast<QTabBar*>(Widget->parentWidget()))
            continue; // the tab bar's own scroll buttons
        if (auto* Button = qobject_cast<QAbstractButton*>(Widget)) {
            if (!Button->text().isEmpty())
                Controls.append({Button, [Button] { return Button->text(); },
                                 [Button](const QString& Text) { Button->setText(Text); }});
        } else if (auto* Label = qobject_cast<QLabel*>(Widget)) {
            if (Label->buddy() != nullptr && !Label->text().isEmpty())
                Controls.append(
                    {Label, [Label] { return Label->text(); }, [Label](const QString& Text) { Label->setText(Text); }});
        }
    }
    return Controls;
}

} // namespace

QString ShownCaption(const QString& Caption) {
    return Shown(Caption);
}

QChar AccessKeyOf(const QString& Caption) {
    qsizetype Key = -1;
    const QString Text = Shown(Caption, &Key);
    return Key < 0 ? QChar() : Text.at(Key).toUpper();
}

namespace {

// Captions that chose their keys in turn; one left without a key may take the key
// of another that can move to a different character of its own (an augmenting
// path), so as many captions as possible end up with a key.
class TKeyMatching {
public:
    TKeyMatching(const QStringList& Texts, const QSet<QChar>& Fixed) : FTexts(Texts), FFixed(Fixed) {}

    void Take(qsizetype Caption, QChar Key) { FOwner.insert(Key, Caption); }

    bool Augment(qsizetype Caption) {
        QSet<QChar> Visited;
        return Reach(Caption, Visited);
    }

    QSet<QChar> Keys() const {
        QSet<QChar> Used;
        for (auto It = FOwner.cbegin(); It != FOwner.cend(); ++It)
            Used.insert(It.key());
        return Used;
    }

    // Position of the key Caption ended with, -1 for none.
    qsizetype KeyOf(qsizetype Caption) const {
        for (auto It = FOwner.cbegin(); It != FOwner.cend(); ++It)
            if (It.value() == Caption)
                return PositionOf(FTexts[Caption], It.key());
        return -1;
    }

private:
    static qsizetype PositionOf(const QString& Text, QChar Key) {
        // Word starts first, as a free choice would have it.
        for (qsizetype I = 0; I < Text.size(); ++I)
            if ((I == 0 || !Text.at(I - 1).isLetterOrNumber()) && Typable(Text.at(I)) && Text.at(I).toUpper() == Key)
                return I;
        for (qsizetype I = 0; I < Text.size(); ++I)
            if (Typable(Text.at(I)) && Text.at(I).toUpper() == Key)
                return I;
        return -1;
    }

    bool Reach(qsizetype Caption, QSet<QChar>& Visited) {
        for (const QChar C : FTexts[Caption]) {
            if (!Typable(C))
                continue;
            const QChar Key = C.toUpper();
            if (FFixed.contains(Key) || Visited.contains(Key))
                continue;
            Visited.insert(Key);
            const auto Owner = FOwner.constFind(Key);
            if (Owner == FOwner.cend() || Reach(Owner.value(), Visited)) {
                FOwner.insert(Key, Caption);
                return true;
            }
        }
        return false;
    }

    const QStringList& FTexts;
    const QSet<QChar>& FFixed;
    QHash<QChar, qsizetype> FOwner; // key -> caption holding it
};

} // namespace

QStringList AssignAccessKeys(const QStringList& Captions, QSet<QChar>& Taken) {
    QStringList Result(Captions.size());
    QList<qsizetype> Pending;
    // Keys written into captions first, in order of precedence; they never move.
    for (qsizetype I = 0; I < Captions.size(); ++I) {
        qsizetype Key = -1;
        const QString Text = Shown(Captions[I], &Key);
        if (Key >= 0 && !Taken.contains(Text.at(Key).toUpper())) {
            Taken.insert(Text.at(Key).toUpper());
            Result[I] = WithKeyAt(Text, Key);
        } else {
            Pending.append(I);
        }
    }
    if (Pending.isEmpty())
        return Result;
    QStringList Texts(Captions.size());
    for (const qsizetype I : std::as_const(Pending))
        Texts[I] = Shown(Captions[I]);
    // Then each in turn takes its first free character; one that finds none may
    // move an earlier one to another character of its own.
    const QSet<QChar> Fixed = Taken;
    QSet<QChar> Chosen = Taken;
    TKeyMatching Matching(Texts, Fixed);
    // Moving keys round is for menus and windows of a few dozen entries; a level
    // of thousands of shops has long given out every key.
    int Attempts = 64;
    for (const qsizetype I : std::as_const(Pending)) {
        const qsizetype Key = FreeKey(Texts[I], Chosen);
        if (Key >= 0) {
            Chosen.insert(Texts[I].at(Key).toUpper());
            Matching.Take(I, Texts[I].at(Key).toUpper());
        } else if (Attempts > 0 && Chosen.size() < 36) {
            --Attempts;
            if (Matching.Augment(I))
                Chosen = Fixed + Matching.Keys();
        }
    }
    for (const qsizetype I : std::as_const(Pending)) {
        const qsizetype At = Matching.KeyOf(I);
        if (At >= 0)
            Taken.insert(Texts[I].at(At).toUpper());
        Result[I] = WithKeyAt(Texts[I], At);
    }
    return Result;
}

QSet<QChar> AssignWidgetAccessKeys(QWidget& Scope, const QSet<QChar>& Reserved) {
    QSet<QChar> Taken = Reserved;
    Apply(CaptionedControls(Scope, false), Taken);
    return Taken;
}

void AssignWindowAccessKeys(QWidget& Window) {
    QSet<QChar> Frame;
    Apply(CaptionedControls(Window, true), Frame);
    for (QTabWidget* Tabs : Window.findChildren<QTabWidget*>()) {
        if (Tabs->window() != &Window)
            continue;
        for (int I = 0; I < Tabs->count(); ++I)
            AssignWidgetAccessKeys(*Tabs->widget(I), Frame);
    }
}

void AssignMenuAccessKeys(QMenu& Menu, qsizetype Prior) {
    const QList<QAction*> Actions = Menu.actions();
    QList<TCaptioned> Entries;
    Prior = qBound<qsizetype>(0, Prior, Actions.size());
    for (qsizetype N = 0; N < Actions.size(); ++N) {
        QAction* Action = Actions[(N + Prior) % Actions.size()];
        if (Action->isSeparator() || Action->text().isEmpty())
            continue;
        Entries.append(
            {Action, [Action] { return Action->text(); }, [Action](const QString& Text) { Action->setText(Text); }});
    }
    QSet<QChar> Taken;
    Apply(Entries, Taken);
}

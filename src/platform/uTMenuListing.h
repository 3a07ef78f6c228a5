#pragma once

#include <QEvent>
#include <QIcon>
#include <QList>
#include <QString>

class QMenu;

// A submenu that can tell its entries without making an action for each. The
// menu handed to the desktop reads a level of thousands of shops from here: a
// widget takes each new action with a search through all it holds, which makes
// such a level cost a tenth of a second before a single entry crosses the bus.
class TMenuListing {
public:
    struct TEntry {
        QString Caption; // as an action's text: "&" marks the hotkey, "&&" is a plain "&"
        QIcon Icon;
        QMenu* Submenu = nullptr; // a nested level, opened through Submenu->menuAction()
    };

    virtual ~TMenuListing() = default;

    // False when the entries are to be read from the menu's actions instead.
    virtual bool HasListing() const = 0;
    virtual qsizetype ListingCount() const = 0;
    // Index in [0, ListingCount()).
    virtual TEntry ListingEntry(qsizetype Index) = 0;
    // Does what choosing the entry in the drawn menu does (nothing for a nested level).
    virtual void ChooseListed(qsizetype Index) = 0;

protected:
    TMenuListing() = default;
    TMenuListing(const TMenuListing&) = default;
    TMenuListing& operator=(const TMenuListing&) = default;
};

// Sent to a listing menu when some of its entries now look different (a favicon
// arrived): whoever shows a copy of the level reads those entries again.
class TListingChangedEvent final : public QEvent {
public:
    explicit TListingChangedEvent(QList<qsizetype> Indexes) : QEvent(EventType()), FIndexes(std::move(Indexes)) {}
    static QEvent::Type EventType() {
        static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return Type;
    }
    const QList<qsizetype>& Indexes() const { return FIndexes; }

private:
    QList<qsizetype> FIndexes;
};

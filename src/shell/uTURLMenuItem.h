#pragma once

#include <QAction>
#include <QString>

class QMenu;
class TImageList;
class TMenuItemManager;
struct TURLItem;

// A menu entry that opens an address: FURL + FParams goes to OpenURL exactly once
// per choice. An empty FURL makes the entry do nothing.
//
// A choice reaches Click in one of two ways, never both: the entry's own
// triggered() connection (the default), or, for the thousands of shop entries of
// the tray menu, the triggered(QAction*) signal of the menu that owns the entry
// (RouteClicksOf), which saves one connection per entry.
class TURLMenuItem final : public QAction {
    Q_OBJECT
public:
    enum class TRouting { OwnSignal, OwningMenu };

    // Caption EscapeAmpersands(ACaption) (AURL, unescaped, when ACaption is empty),
    // hint (status tip and tool tip) AURL, image index 5 (the globe), empty FParams.
    TURLMenuItem(QObject* AOwner, const QString& AURL, const QString& ACaption);
    // The tray menu's shop entry: hint Hint (status tip only), caption escaped as
    // above; Routing OwningMenu needs RouteClicksOf on the owning menu.
    TURLMenuItem(QMenu* AOwner, const QString& AURL, const QString& ACaption, const QString& Hint, TRouting Routing);

    void Click() const;
    QString GetFullURL() const { return FURL + FParams; }
    QString URL() const { return FURL; }
    QString Params() const { return FParams; }
    void SetParams(const QString& Params) { FParams = Params; }
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int Index) { FImageIndex = Index; }

    // Makes Menu click the OwningMenu entries it owns (once per menu).
    static void RouteClicksOf(QMenu& Menu);

private:
    QString FURL;
    QString FParams;
    int FImageIndex = 5;
    TRouting FRouting = TRouting::OwnSignal;
};

// A personal link as a menu entry with its name as written; a link named "-" is a
// separator line.
// Index < 0 appends, otherwise inserts at Index.
void AddLinkMenuItem(QMenu* Parent, const TURLItem& Item, int Index, const TImageList& Images);
// Every personal link, in name order, inserted at Index.
void FillLinksMenu(QMenu* Parent, const TMenuItemManager& Links, int Index, const TImageList& Images);

#include "uTURLMenuItem.h"

#include "uTImageList.h"
#include "uTMenuItemManager.h"
#include "uTools.h"

#include <QMenu>

namespace {
constexpr const char* RoutedProperty = "qvRoutesURLClicks";
}

TURLMenuItem::TURLMenuItem(QObject* AOwner, const QString& AURL, const QString& ACaption)
    : QAction(AOwner), FURL(AURL) {
    setText(MenuCaption(ACaption.isEmpty() ? AURL : ACaption));
    setStatusTip(AURL);
    setToolTip(AURL);
    connect(this, &QAction::triggered, this, [this] { Click(); });
}

TURLMenuItem::TURLMenuItem(QMenu* AOwner, const QString& AURL, const QString& ACaption, const QString& Hint,
                           TRouting Routing)
    : QAction(AOwner), FURL(AURL), FRouting(Routing) {
    setText(MenuCaption(ACaption.isEmpty() ? AURL : ACaption));
    setStatusTip(Hint);
    if (Routing == TRouting::OwnSignal)
        connect(this, &QAction::triggered, this, [this] { Click(); });
}

void TURLMenuItem::Click() const {
    if (!FURL.isEmpty())
        OpenURL(GetFullURL());
}

void TURLMenuItem::RouteClicksOf(QMenu& Menu) {
    if (Menu.property(RoutedProperty).toBool())
        return;
    Menu.setProperty(RoutedProperty, true);
    // A menu also repeats the choices made in its submenus; only the owner clicks.
    connect(&Menu, &QMenu::triggered, &Menu, [Owner = &Menu](QAction* Action) {
        auto* Item = qobject_cast<TURLMenuItem*>(Action);
        if (Item != nullptr && Item->FRouting == TRouting::OwningMenu && Item->parent() == Owner)
            Item->Click();
    });
}

void AddLinkMenuItem(QMenu* Parent, const TURLItem& Item, int Index, const TImageList& Images) {
    if (Parent == nullptr || Item.Name.isEmpty())
        return;
    // Own statement: a live copy of the action list would be copied on insert.
    QAction* const Before = Index >= 0 ? Parent->actions().value(Index) : nullptr;
    if (Item.Name == QLatin1String("-")) {
        // Users name a link "-" to draw a line between groups of their links.
        auto* Line = new QAction(Parent);
        Line->setSeparator(true);
        Parent->insertAction(Before, Line);
        return;
    }
    auto* Entry = new TURLMenuItem(Parent, Item.URL, Item.Name);
    const int Image = Item.Icon > 0 && Item.Icon < Images.Count() ? Item.Icon : TImageList::GlobeIndex;
    Entry->SetImageIndex(Image);
    Entry->setIcon(Images.Icon(Image));
    Parent->insertAction(Before, Entry);
}

void FillLinksMenu(QMenu* Parent, const TMenuItemManager& Links, int Index, const TImageList& Images) {
    const QList<TURLItem> Items = Links.LoadAll();
    for (auto It = Items.crbegin(); It != Items.crend(); ++It)
        AddLinkMenuItem(Parent, *It, Index, Images);
}

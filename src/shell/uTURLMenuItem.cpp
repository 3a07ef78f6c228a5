#include "uTURLMenuItem.h"

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

#include "uTURLMenuItem.h"

#include "uTools.h"

TURLMenuItem::TURLMenuItem(QObject* AOwner, const QString& AURL, const QString& ACaption)
    : QAction(AOwner), FURL(AURL) {
    setText(ACaption.isEmpty() ? AURL : EscapeAmpersands(ACaption));
    setStatusTip(AURL);
    setToolTip(AURL);
    // One connection, so one choice is one launch.
    connect(this, &QAction::triggered, this, [this] { Click(); });
}

void TURLMenuItem::Click() const {
    if (!FURL.isEmpty())
        OpenURL(GetFullURL());
}

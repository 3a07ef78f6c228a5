#include "uTMenuItemManager.h"

#include "uConst.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uTools.h"

#include <QFile>
#include <QRegularExpression>

namespace {
const QString UrlValue = QStringLiteral("url");
const QString IconValue = QStringLiteral("icon");
} // namespace

TMenuItemManager::TMenuItemManager(const QString& RootKey) : FRootKey(RootKey) {}

QString TMenuItemManager::LinkKey(const QString& Name) const {
    return FRootKey + QLatin1Char('\\') + SafeLinkName(Name);
}

QStringList TMenuItemManager::GetNames() const {
    return GetSettingsKeyNames(FRootKey);
}

bool TMenuItemManager::Load(TURLItem& Item) const {
    if (Item.Name.isEmpty())
        return false;
    const QString Key = LinkKey(Item.Name);
    Item.URL = ReadSettingString(Key, UrlValue, QString());
    Item.Icon = ReadSettingInteger(Key, IconValue, 0);
    return true;
}

QString CompleteLinkURL(const QString& URL) {
    const QString Text = URL.trimmed();
    // A scheme is letters, digits, "+", "-", "." before a ":"; "host:8080/x" has a port there, no scheme.
    static const QRegularExpression Scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?![0-9])"));
    if (Text.isEmpty() || Scheme.match(Text).hasMatch())
        return Text;
    return QStringLiteral("http://") + Text;
}

void TMenuItemManager::Save(const TURLItem& Item) {
    if (Item.Name.isEmpty() || Item.URL.isEmpty())
        return;
    const QString Key = LinkKey(Item.Name);
    const QString OldURL = ReadSettingString(Key, UrlValue, QString());
    // "www.example.org/x" would reach the browser as a file name or a search.
    const QString URL = Item.Name == QLatin1String("-") ? Item.URL : CompleteLinkURL(Item.URL);
    int Icon = Item.Icon;
    if (!OldURL.isEmpty() && OldURL != URL) {
        // The icon belongs to the old site: drop it so the favicon fetcher loads the new one.
        QFile::remove(LinkIconFile(Item.Name));
        Icon = 0;
    }
    WriteSettingString(Key, UrlValue, URL);
    WriteSettingInteger(Key, IconValue, Icon);
}

bool TMenuItemManager::Add(const TURLItem& Item) {
    if (Item.Name.isEmpty() || Item.URL.isEmpty())
        return false;
    if (SettingsKeyExists(LinkKey(Item.Name)) && !AskYesNo(QString::fromLatin1(ProgramName), txtNameExists()))
        return false;
    Save(Item);
    return true;
}

bool TMenuItemManager::Delete(const QString& Name) {
    if (Name.isEmpty())
        return false;
    return DeleteSettingsKey(LinkKey(Name));
}

bool TMenuItemManager::Replace(const QString& OldName, const TURLItem& NewItem) {
    if (NewItem.Name.isEmpty() || NewItem.URL.isEmpty())
        return false;
    const QString OldSafe = SafeLinkName(OldName);
    const QString NewSafe = SafeLinkName(NewItem.Name);
    if (OldSafe.isEmpty())
        return Add(NewItem);
    if (OldSafe == NewSafe) {
        Save(NewItem);
        return true;
    }
    if (OldSafe.compare(NewSafe, Qt::CaseInsensitive) == 0) {
        // Key names ignore case: a change of case needs the old key gone before the
        // new one is written. Put the old link back if that write fails.
        TURLItem Old{OldSafe, {}, 0};
        Load(Old);
        Delete(OldSafe);
        try {
            Save(NewItem);
        } catch (...) {
            Save(Old);
            throw;
        }
        return true;
    }
    if (!Add(NewItem))
        return false;
    Delete(OldSafe);
    return true;
}

QList<TURLItem> TMenuItemManager::LoadAll() const {
    QList<TURLItem> Items;
    for (const QString& Name : GetNames()) {
        TURLItem Item{Name, {}, 0};
        if (Load(Item))
            Items.append(Item);
    }
    return Items;
}

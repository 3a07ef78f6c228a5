#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

// Watches, on X11, for an XEmbed notification area: the owner of the selection
// _NET_SYSTEM_TRAY_S<screen>. The X server reports each change of owner (XFixes),
// so a panel that starts late or restarts is seen at once. Elsewhere it reports
// no notification area and never changes.
class TXEmbedWatch final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TXEmbedWatch)
public:
    explicit TXEmbedWatch(QObject* Parent = nullptr);
    ~TXEmbedWatch() override;

    bool IsWatching() const { return FWatching; }
    bool HasManager() const { return FOwner != 0; }

    bool nativeEventFilter(const QByteArray& EventType, void* Message, qintptr* Result) override;

Q_SIGNALS:
    void ManagerChanged(bool Present);

private:
    void ReadOwner();

    bool FWatching = false;
    quint32 FAtom = 0;
    quint32 FOwner = 0;
    quint8 FSelectionNotify = 0;
};

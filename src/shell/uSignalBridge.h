#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the UI thread (self-pipe),
// so shutdown runs in the event loop and never inside a signal handler.
class TSignalBridge final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TSignalBridge)
public:
    explicit TSignalBridge(QObject* Parent = nullptr);
    ~TSignalBridge() override;

Q_SIGNALS:
    void Received(int Signal);

private:
    QSocketNotifier* FNotifier = nullptr;
};

// The floor for the start-up measurement: a bare QApplication with a tray icon and
// a menu of eight entries, printing "Started" when it is up. Exits at once unless
// given "--stay".
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QMenu Menu;
    for (int I = 0; I < 8; ++I)
        Menu.addAction(QStringLiteral("Entry %1").arg(I));
    QSystemTrayIcon Icon;
    Icon.setContextMenu(&Menu);
    Icon.show();
    std::puts("Started");
    std::fflush(stdout);
    if (argc > 1 && QByteArray(argv[1]) == "--stay")
        return App.exec();
    return 0;
}

// Baseline of bench_web: the least a program does to show a page in a
// QWebEngineView. Prints the milliseconds from the view's creation to the end of
// the first load.
#include <QApplication>
#include <QElapsedTimer>
#include <QWebEngineView>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    if (argc < 2)
        return 2;
    QElapsedTimer Timer;
    Timer.start();
    QWebEngineView View;
    View.resize(537, 459);
    View.show();
    QObject::connect(&View, &QWebEngineView::loadFinished, [&](bool Ok) {
        std::printf("%lld %d\n", static_cast<long long>(Timer.elapsed()), Ok ? 1 : 0);
        std::fflush(stdout);
        App.quit();
    });
    View.load(QUrl(QString::fromLocal8Bit(argv[1])));
    return App.exec();
}

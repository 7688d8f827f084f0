// Saves a picture of the whole X screen: brisolde-screenshot FILE.png
// Used to look at the program in a virtual display, where no desktop tool runs.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "%s: could not grab the screen\n", argv[0]);
        return 1;
    }
    return 0;
}

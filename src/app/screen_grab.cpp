// notepics_screen_grab OUT.png [X Y WIDTH HEIGHT]
//
// Saves the screen of the display named by $DISPLAY, or the given part of
// it, as a PNG file. Exit code 0 on success, 1 on a wrong call, 2 when the
// picture cannot be taken or written.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2 && args.size() != 6) {
        std::fprintf(stderr, "usage: notepics_screen_grab OUT.png [X Y WIDTH HEIGHT]\n");
        return 1;
    }
    int area[4] = {0, 0, -1, -1};
    for (int i = 0; i + 2 < args.size(); ++i) {
        bool ok = false;
        area[i] = args[i + 2].toInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "notepics_screen_grab: not a number: %s\n",
                         qPrintable(args[i + 2]));
            return 1;
        }
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "notepics_screen_grab: no screen\n");
        return 2;
    }
    const QPixmap picture = screen->grabWindow(0, area[0], area[1], area[2], area[3]);
    if (picture.isNull() || !picture.save(args[1], "PNG")) {
        std::fprintf(stderr, "notepics_screen_grab: cannot save %s\n", qPrintable(args[1]));
        return 2;
    }
    return 0;
}

// Test container: "embed-container --id N [--load FILE]". Claims
// org.tolvern.TestContainer.cN and answers XEmbed focus requests.

#include "containerwindow.h"
#include "xembedfocus.h"

#include <QApplication>
#include <QDBusConnection>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const auto valueOf = [&arguments](const char* option) {
        const qsizetype at = arguments.indexOf(QLatin1String(option));
        return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
    };
    const QString id = valueOf("--id").isEmpty() ? QStringLiteral("1") : valueOf("--id");

    XEmbedFocus xembed;
    app.installNativeEventFilter(&xembed);
    ContainerWindow window(id, &xembed);
    window.resize(640, 420);
    if (const QString load = valueOf("--load"); !load.isEmpty())
        window.LoadDocument(load);
    window.show();
    window.activateWindow();

    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.registerObject(QStringLiteral("/Container"), &window,
                       QDBusConnection::ExportScriptableSlots);
    const QString name = QStringLiteral("org.tolvern.TestContainer.c") + id;
    if (!bus.registerService(name)) {
        std::fprintf(stderr, "embed-container: cannot claim %s\n", qPrintable(name));
        return 1;
    }
    return app.exec();
}

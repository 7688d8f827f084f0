// Entry point of every test program: each run gets a home, configuration and
// data folder of its own, and no session bus but a private one, so that no
// test ever touches the real user's files or desktop, and widgets are drawn
// off screen.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[])
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/brisolde-test-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QByteArray root = QFile::encodeName(home.path());
    const QByteArray config = root + "/config";
    const QByteArray data = root + "/data";
    const QByteArray cache = root + "/cache";
    const QByteArray runtime = root + "/runtime";
    for (const QByteArray& dir : {config, data, cache, runtime})
        QDir().mkpath(QFile::decodeName(dir));
    QFile::setPermissions(QFile::decodeName(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    setenv("XDG_DATA_HOME", data.constData(), 1);
    setenv("XDG_CACHE_HOME", cache.constData(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
    // No test reaches the desktop's own session bus: the address names a bus
    // that is not there, unless the run has a private bus of its own
    // (dbus-run-session) and says so.
    if (!std::getenv("BRISOLDE_TEST_PRIVATE_BUS"))
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtime + "/bus").constData(), 1);
    if (!std::getenv("BRISOLDE_TEST_ON_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brisolde"));
    QApplication::setApplicationVersion(QStringLiteral("0.0-test"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

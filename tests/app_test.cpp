#include "brisoldeapp.h"
#include "doctemplate.h"
#include "framewnd.h"
#include "profilenames.h"
#include "resource.h"
#include "testsupport.h"
#include "tolvernversion.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The box is modal: look at it from the event loop it runs, then close it as
// a user would. Returns once `call` has returned.
bool showAndInspect(const std::function<void()>& call, const std::function<void(QDialog*)>& look)
{
    bool inspected = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box || inspected)
            return;
        inspected = true;
        look(box);
        box->accept();
    });
    timer.start(10);
    call();
    return inspected;
}

QLabel* label(QDialog* box, const char* name)
{
    auto* found = box->findChild<QLabel*>(QString::fromUtf8(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

} // namespace

TEST(About, TheMakersBoxShowsIconPictureTitleAndVersionAndReturnsWhenClosed)
{
    CBrisoldeApp app;
    EXPECT_TRUE(showAndInspect(
        [&] { app.OnAppAbout(); },
        [](QDialog* box) {
            EXPECT_EQ(label(box, "aboutTitle")->text(), QStringLiteral("Brisolde"));
            EXPECT_EQ(label(box, "aboutVersion")->text(), QStringLiteral("Version 0.0-test"));
            EXPECT_EQ(label(box, "aboutPicture")->pixmap().size(), QSize(64, 64));
            EXPECT_FALSE(label(box, "aboutIcon")->pixmap().isNull());
        }));

    // Resources that are not there leave their places empty; the box still works.
    int result = -2;
    EXPECT_TRUE(showAndInspect(
        [&] { result = TolvernVersionAbout(nullptr, ":/nowhere", 1, 2); },
        [](QDialog* box) { EXPECT_TRUE(label(box, "aboutPicture")->pixmap().isNull()); }));
    EXPECT_EQ(result, int(QDialog::Accepted));
}

TEST(Startup, AGarbageProfileStartsWithDefaultsAndTheRecentListIsSavedAtExit)
{
    const QString ini = qEnvironmentVariable("XDG_CONFIG_HOME") +
                        QStringLiteral("/Tolvern Midi Applications/Brisolde.ini");
    ASSERT_TRUE(testsupport::writeFile(ini, QByteArray("\x00\xff[Settings\nLoop=abc\n\x01", 19)));

    CBrisoldeApp app;
    ASSERT_TRUE(app.InitInstance());
    ASSERT_NE(app.m_pMainWnd, nullptr);
    EXPECT_EQ(app.profile().filePath(), ini);
    EXPECT_EQ(app.GetProfileInt(profile::kSettings, profile::kLoop, profile::kLoopDefault), 8);
    EXPECT_EQ(app.recentFileList()->count(), 0);

    app.OpenDocumentFile("/music/song.mid");
    app.docTemplate()->CloseAllDocuments();
    app.ExitInstance();
    EXPECT_EQ(app.GetProfileString(framework::kRecentFileListSection, "File1"), "/music/song.mid");
}

// The real main window, off screen: menus and check marks, the enable rules
// of each play state, the options in the profile, the device list, and whole
// pieces played to their end on a recording port with the offline clock.
#include "brisoldeapp.h"
#include "brisoldedoc.h"
#include "directoryview.h"
#include "doctemplate.h"
#include "engine.h"
#include "filesview.h"
#include "internal/recordingport.h"
#include "internal/synthport.h"
#include "mainfrm.h"
#include "messagebox.h"
#include "midibytes.h"
#include "profilenames.h"
#include "resource.h"
#include "stringtable.h"
#include "testsupport.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <tuple>

using namespace midibytes;
using music::internal::RecordingPort;

namespace {

QString profilePath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") +
           QStringLiteral("/Tolvern Midi Applications/Brisolde.ini");
}

Bytes shortPiece(int note)
{
    return cat({header(0, 1, 96), track(cat({{0x00, 0x90, std::uint8_t(note), 100},
                                             {0x60, 0x80, std::uint8_t(note), 0},
                                             endOfTrack(96)}))});
}

// The application with the file dialog answered by the test.
struct TestApp : CBrisoldeApp
{
    std::optional<std::string> answer;
    std::optional<std::string> DoPromptFileName() override { return answer; }
};

bool writeBytes(const QString& path, const Bytes& bytes)
{
    return testsupport::writeFile(
        path, QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}

class MainFrameTest : public testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(profilePath());
        ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("one.mid")), shortPiece(60)));
        ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("two.mid")), shortPiece(62)));
        ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("three.mid")), shortPiece(64)));
        ASSERT_TRUE(testsupport::writeFile(dir.filePath(QStringLiteral("bad.mid")), "not midi"));
        CMainFrame::setPlayDelay(0);
        framework::setMessageBoxHook([this](const QString& text, QMessageBox::Icon) {
            messages << text;
            return int(QMessageBox::Ok);
        });
    }
    void TearDown() override
    {
        if (app && app->docTemplate())
            app->docTemplate()->CloseAllDocuments();
        if (app)
            app->ExitInstance();
        app.reset();
        framework::setMessageBoxHook({});
        SetEngineOptions({});
    }

    void start(bool withSynthesizer = true)
    {
        EngineOptions options;
        options.clock = music::Performance::Clock::Offline;
        options.ports.alsa = false;
        options.ports.synthesizer = withSynthesizer;
        options.ports.synthOutput = music::SynthOutput::Offline;
        options.preparePorts = [this](music::PortManager& ports) {
            for (bool instruments : {true, false}) {
                music::PortCaps caps;
                caps.id = instruments ? "test:dls" : "test:plain";
                caps.description = instruments ? "Recorder" : "Plain recorder";
                caps.downloadsInstruments = instruments;
                caps.reverb = instruments;
                ports.addTestPort(caps, [this, instruments] {
                    auto port = std::make_unique<RecordingPort>(instruments, instruments);
                    recorder = port.get();
                    return std::unique_ptr<music::Port>(std::move(port));
                });
            }
        };
        SetEngineOptions(options);
        app = std::make_unique<TestApp>();
        ASSERT_TRUE(app->InitInstance());
        frame = qobject_cast<CMainFrame*>(app->m_pMainWnd.data());
        ASSERT_NE(frame, nullptr);
        // The window as a user has it: shown and active, so that keys reach it.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
        QApplication::setActiveWindow(frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    }

    QMenu* menu(const QString& title) const
    {
        for (QAction* action : frame->menuBar()->actions()) {
            if (action->menu() && action->text() == title)
                return action->menu();
        }
        return nullptr;
    }
    bool checked(int id) const { return frame->GetMenuState(id) & framework::MF_CHECKED; }
    bool enabled(int id)
    {
        emit menu(QStringLiteral("&File"))->aboutToShow();
        return frame->commandAction(id)->isEnabled();
    }
    int stored(const char* entry) const
    {
        return app->GetProfileInt(profile::kSettings, entry, -99);
    }
    std::string file(const char* name) const
    {
        return QFile::encodeName(dir.filePath(QString::fromUtf8(name))).toStdString();
    }
    // As a user picks a port: a click opens the device list, the arrow keys
    // move to the entry and Return chooses it (also the entry already chosen).
    void chooseDevice(const char* description)
    {
        QComboBox* combo = frame->m_wndDlgBar->combo();
        const int index = combo->findText(QString::fromUtf8(description));
        ASSERT_GE(index, 0);
        QTest::mouseClick(combo, Qt::LeftButton);
        QAbstractItemView* list = combo->view();
        ASSERT_TRUE(list->isVisible());
        for (int row = list->currentIndex().row(); row != index; row += row < index ? 1 : -1)
            QTest::keyClick(list, row < index ? Qt::Key_Down : Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
        ASSERT_FALSE(list->isVisible());
    }

    // The ways a user gives a command. Each waits as the event loop does
    // between two inputs, so the toolbar and the keys are up to date.
    void idle()
    {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
        // A window system gives the activation back to the window when a popup
        // closes; the off-screen platform leaves it with the hidden popup.
        if (QWidget* active = QApplication::activeWindow(); !active || !active->isVisible())
            QApplication::setActiveWindow(frame);
    }
    // Opens menu `title` with a click on the menu bar and clicks the item of `id`.
    void clickMenuItem(const QString& title, int id)
    {
        idle();
        QMenu* popup = menu(title);
        QMenuBar* bar = frame->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(popup->menuAction()).center());
        ASSERT_TRUE(popup->isVisible()) << title.toStdString();
        const std::vector<QAction*> actions = frame->commandActions(id);
        QAction* item = nullptr;
        for (QAction* action : popup->actions()) {
            if (action->isVisible() && std::ranges::find(actions, action) != actions.end())
                item = action;
        }
        ASSERT_NE(item, nullptr) << id;
        QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(item).center());
        if (popup->isVisible()) // a greyed item leaves the menu open
            QTest::keyClick(popup, Qt::Key_Escape);
    }
    // Alt and the menu's mnemonic open it; `keys` are pressed in it.
    void keyMenu(Qt::Key mnemonic, std::initializer_list<Qt::Key> keys)
    {
        idle();
        QTest::keyClick(focused(), mnemonic, Qt::AltModifier);
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr);
        for (Qt::Key key : keys)
            QTest::keyClick(popup, key);
    }
    void clickToolButton(int id)
    {
        idle();
        QWidget* button = frame->m_wndToolBar->widgetForAction(frame->commandAction(id));
        ASSERT_NE(button, nullptr) << id;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void pressKey(QKeyCombination key)
    {
        idle();
        QTest::keyClick(focused(), key.key(), key.keyboardModifiers());
    }
    QWidget* focused() const
    {
        QWidget* widget = QApplication::focusWidget();
        return widget ? widget : frame;
    }
    // What `act` shows as a modal window, closed again as a user would.
    QString modalShownBy(const std::function<void()>& act)
    {
        QString shown;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                shown = box->objectName().isEmpty()
                            ? QString::fromUtf8(box->metaObject()->className())
                            : box->objectName();
                box->reject();
            }
        });
        timer.start(10);
        act();
        return shown;
    }
    std::string pathName() const { return app->docTemplate()->document()->GetPathName(); }
    // Moves the recorder's clock to `until` and lets the window handle what
    // the engine reports.
    void runTo(std::int64_t until)
    {
        for (std::int64_t t = recorder->now(); t < until; t = std::min(until, t + 20000)) {
            g_pPerformance->pump();
            recorder->setNow(std::min(until, t + 20000));
            g_pPerformance->pump();
            settle();
        }
    }
    // Waits for the notification thread's messages to arrive and be handled.
    void settle()
    {
        QElapsedTimer timer;
        timer.start();
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        } while ((g_hNotifyEvent->size() > 0 || timer.elapsed() < 5) && timer.elapsed() < 5000);
    }
    std::vector<int> notesPlayed() const
    {
        std::vector<int> notes;
        for (const auto& r : recorder->received()) {
            if ((r.bytes[0] & 0xF0) == 0x90 && r.bytes[2] != 0)
                notes.push_back(r.bytes[1]);
        }
        return notes;
    }

    QTemporaryDir dir;
    std::unique_ptr<TestApp> app;
    CMainFrame* frame = nullptr;
    RecordingPort* recorder = nullptr;
    QStringList messages;
};

} // namespace

TEST_F(MainFrameTest, AFirstRunShowsTheDefaultsAndTheWholeVocabulary)
{
    start();
    EXPECT_TRUE(checked(ID_OPTIONS_AUTOPLAY));
    EXPECT_TRUE(checked(ID_OPTIONS_LOOP));
    EXPECT_TRUE(checked(ID_OPTIONS_GM_RESET));
    EXPECT_TRUE(checked(ID_OPTIONS_REVERB));
    EXPECT_FALSE(checked(ID_OPTIONS_PLAY_DIRECTORY));

    QStringList titles;
    for (QAction* action : frame->menuBar()->actions())
        titles << action->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Edit", "&Options", "&View", "&Help"}));
    EXPECT_EQ(frame->commandAction(ID_PLAY_MIDI)->statusTip(), QStringLiteral("Play Midi"));
    EXPECT_EQ(frame->commandAction(ID_OPTIONS_GM_RESET)->text(), QStringLiteral("Send a GM Reset"));

    // Status bar: message pane, position pane with the credit text, three key panes.
    EXPECT_EQ(frame->m_wndStatusBar.paneCount(), 5);
    EXPECT_EQ(frame->m_wndStatusBar.pane(1)->text(), res::loadString(ID_INDICATOR_POSITION));
    // The device list holds the synthesizer first, selected, then the test ports.
    QComboBox* combo = frame->m_wndDlgBar->combo();
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("Built-in synthesizer (FluidSynth)"));
    EXPECT_EQ(frame->m_wndSplitter->count(), 2);
    EXPECT_TRUE(frame->GetFilesView() != nullptr && frame->GetDirectoryView() != nullptr);
}

// Each option as a user chooses it: a click in the open menu, the menu's
// keys, and the menu's own action. Each way flips the check mark once and
// stores 8 or 0 from it; Reverb switches the port's reverb and is never stored.
TEST_F(MainFrameTest, EveryOptionTogglesAndIsStoredHoweverTheUserChoosesIt)
{
    ASSERT_TRUE(testsupport::writeFile(profilePath(), "[Settings]\nLoop=1\n"));
    start();
    chooseDevice("Recorder"); // its reverb can be switched and looked at
    EXPECT_FALSE(checked(ID_OPTIONS_LOOP)) << "1 counts as on but shows unchecked";
    struct Option
    {
        int id;
        const char* entry; // null: Reverb, which is not stored
        Qt::Key key;       // its mnemonic in the Options menu
    };
    const Option options[] = {
        {ID_OPTIONS_REVERB, nullptr, Qt::Key_R},
        {ID_OPTIONS_AUTOPLAY, profile::kAutoplay, Qt::Key_A},
        {ID_OPTIONS_LOOP, profile::kLoop, Qt::Key_L},
        {ID_OPTIONS_PLAY_DIRECTORY, profile::kPlayDirectory, Qt::Key_D},
        // No mnemonic: up from the first item to the last one.
        {ID_OPTIONS_GM_RESET, profile::kGmReset, Qt::Key_Up},
    };
    const QString title = QStringLiteral("&Options");
    for (const Option& option : options) {
        const std::function<void()> ways[] = {
            [&] { clickMenuItem(title, option.id); },
            [&] {
                if (option.key == Qt::Key_Up)
                    keyMenu(Qt::Key_O, {Qt::Key_Up, Qt::Key_Return});
                else
                    keyMenu(Qt::Key_O, {option.key});
            },
            [&] {
                emit menu(title)->aboutToShow();
                frame->commandAction(option.id)->trigger();
            },
        };
        for (std::size_t way = 0; way < std::size(ways); ++way) {
            SCOPED_TRACE(testing::Message() << "command " << option.id << ", way " << way);
            const bool before = checked(option.id);
            ways[way]();
            EXPECT_EQ(checked(option.id), !before);
            if (option.entry)
                EXPECT_EQ(stored(option.entry), before ? 0 : 8);
            else
                EXPECT_EQ(recorder->reverbOn(), !before);
        }
    }
    EXPECT_EQ(stored(profile::kReverb), -99) << "Reverb never reaches the profile";
    EXPECT_FALSE(testsupport::readFile(profilePath()).contains("Reverb"));
}

// Every other command of the menus, the toolbar and the accelerator table,
// given as a user gives it, in one session. (The options have their test
// above; every test chooses its port in the device list as a user does.)
TEST_F(MainFrameTest, EveryCommandAnswersTheWayAUserGivesIt)
{
    start();
    chooseDevice("Recorder");
    const QString fileMenu = QStringLiteral("&File");

    // Open and New: by key, toolbar, menu click and menu keys; recent files.
    app->answer = file("one.mid");
    pressKey(Qt::CTRL | Qt::Key_O);
    EXPECT_EQ(pathName(), file("one.mid"));
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING) << "Autoplay";
    clickToolButton(ID_FILE_NEW);
    EXPECT_EQ(pathName(), "");
    app->answer = file("two.mid");
    clickToolButton(ID_FILE_OPEN);
    EXPECT_EQ(pathName(), file("two.mid"));
    pressKey(Qt::CTRL | Qt::Key_N);
    EXPECT_EQ(pathName(), "");
    app->answer = file("three.mid");
    clickMenuItem(fileMenu, ID_FILE_OPEN);
    EXPECT_EQ(pathName(), file("three.mid"));
    keyMenu(Qt::Key_F, {Qt::Key_N});
    EXPECT_EQ(pathName(), "");
    keyMenu(Qt::Key_F, {Qt::Key_2}); // three, two, one: the second
    EXPECT_EQ(pathName(), file("two.mid"));
    clickMenuItem(fileMenu, ID_FILE_MRU_FILE1 + 2); // two, three, one: the third
    EXPECT_EQ(pathName(), file("one.mid"));

    // The transport: toolbar buttons and File menu items (Loop is on).
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    clickToolButton(ID_PAUSE_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED);
    clickToolButton(ID_STOP_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED) << "a greyed button does nothing";
    clickToolButton(ID_PLAY_MIDI);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
    auto playing = g_pSegmentState;
    clickToolButton(ID_PLAY_NEXT_FILE);
    EXPECT_NE(g_pSegmentState, playing) << "the same piece again, from the start";
    clickToolButton(ID_STOP_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    clickMenuItem(fileMenu, ID_PLAY_MIDI);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
    clickMenuItem(fileMenu, ID_PAUSE_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED);
    clickMenuItem(fileMenu, ID_PLAY_MIDI);
    playing = g_pSegmentState;
    clickMenuItem(fileMenu, ID_PLAY_NEXT_FILE);
    EXPECT_NE(g_pSegmentState, playing);
    clickMenuItem(fileMenu, ID_STOP_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);

    // What nothing here handles is greyed: its keys and items do nothing.
    const std::pair<QKeyCombination, int> keys[] = {
        {Qt::CTRL | Qt::Key_S, ID_FILE_SAVE},        {Qt::CTRL | Qt::Key_P, ID_FILE_PRINT},
        {Qt::CTRL | Qt::Key_Z, ID_EDIT_UNDO},        {Qt::CTRL | Qt::Key_X, ID_EDIT_CUT},
        {Qt::CTRL | Qt::Key_C, ID_EDIT_COPY},        {Qt::CTRL | Qt::Key_V, ID_EDIT_PASTE},
        {Qt::ALT | Qt::Key_Backspace, ID_EDIT_UNDO}, {Qt::SHIFT | Qt::Key_Delete, ID_EDIT_CUT},
        {Qt::CTRL | Qt::Key_Insert, ID_EDIT_COPY},   {Qt::SHIFT | Qt::Key_Insert, ID_EDIT_PASTE},
    };
    for (const auto& [key, id] : keys) {
        QAction* action = frame->commandAction(id);
        EXPECT_TRUE(action->shortcuts().contains(QKeySequence(key))) << id;
        QSignalSpy fired(action, &QAction::triggered);
        EXPECT_EQ(modalShownBy([&] { pressKey(key); }), QString()) << id;
        EXPECT_EQ(fired.count(), 0) << id;
    }
    for (int id : {ID_FILE_SAVE_AS, ID_FILE_PRINT_PREVIEW}) {
        QSignalSpy fired(frame->commandAction(id), &QAction::triggered);
        EXPECT_EQ(modalShownBy([&] { clickMenuItem(fileMenu, id); }), QString()) << id;
        EXPECT_EQ(fired.count(), 0) << id;
    }

    // F6 and Shift+F6 move between the panes.
    frame->GetDirectoryView()->setFocus();
    pressKey(QKeyCombination(Qt::Key_F6));
    EXPECT_EQ(QApplication::focusWidget(), frame->GetFilesView());
    pressKey(QKeyCombination(Qt::Key_F6));
    EXPECT_EQ(QApplication::focusWidget(), frame->GetDirectoryView());
    pressKey(Qt::SHIFT | Qt::Key_F6);
    EXPECT_EQ(QApplication::focusWidget(), frame->GetFilesView());

    // View: each bar goes and comes back, its check mark with it.
    const QString viewMenu = QStringLiteral("&View");
    const std::tuple<int, QWidget*, std::function<void()>> bars[] = {
        {ID_VIEW_TOOLBAR, frame->m_wndReBar.toolBand,
         [&] {
             keyMenu(Qt::Key_V, {Qt::Key_T});
         }},
        {ID_VIEW_DEVICE_COMBO, frame->m_wndReBar.deviceBand,
         [&] {
             keyMenu(Qt::Key_V, {Qt::Key_Down, Qt::Key_Return});
         }},
        {ID_VIEW_STATUS_BAR, frame->statusBar(),
         [&] {
             keyMenu(Qt::Key_V, {Qt::Key_S});
         }},
    };
    for (const auto& [id, bar, byKeys] : bars) {
        clickMenuItem(viewMenu, id);
        EXPECT_FALSE(bar->isVisible()) << id;
        emit menu(viewMenu)->aboutToShow();
        EXPECT_FALSE(checked(id)) << id;
        byKeys();
        EXPECT_TRUE(bar->isVisible()) << id;
        emit menu(viewMenu)->aboutToShow();
        EXPECT_TRUE(checked(id)) << id;
    }

    // The dialogs: Print Setup from the menu's keys, About from the toolbar and the menu.
    EXPECT_EQ(modalShownBy([&] { keyMenu(Qt::Key_F, {Qt::Key_R}); }),
              QStringLiteral("QPrintDialog"));
    EXPECT_EQ(modalShownBy([&] { clickToolButton(ID_APP_ABOUT); }), QStringLiteral("tolvernAbout"));
    EXPECT_EQ(modalShownBy([&] { clickMenuItem(QStringLiteral("&Help"), ID_APP_ABOUT); }),
              QStringLiteral("tolvernAbout"));

    // Exit closes the window.
    keyMenu(Qt::Key_F, {Qt::Key_X});
    EXPECT_FALSE(frame->isVisible());
}

TEST_F(MainFrameTest, TransportCommandsFollowThePlayState)
{
    start();
    chooseDevice("Recorder");
    EXPECT_FALSE(enabled(ID_PLAY_MIDI)) << "no file yet";
    app->WriteProfileInt(profile::kSettings, profile::kAutoplay, 0);
    app->WriteProfileInt(profile::kSettings, profile::kLoop, 0);
    app->OpenDocumentFile(file("one.mid"));
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED) << "all three options off: loaded, not played";
    EXPECT_TRUE(enabled(ID_PLAY_MIDI));
    EXPECT_FALSE(enabled(ID_STOP_PLAYING));
    EXPECT_FALSE(enabled(ID_FILE_SAVE));
    EXPECT_FALSE(enabled(ID_FILE_SAVE_AS));

    clickToolButton(ID_PLAY_MIDI);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
    EXPECT_FALSE(enabled(ID_PLAY_MIDI));
    EXPECT_TRUE(enabled(ID_PAUSE_PLAYING));
    EXPECT_TRUE(enabled(ID_STOP_PLAYING));
    EXPECT_TRUE(enabled(ID_PLAY_NEXT_FILE));

    clickToolButton(ID_PAUSE_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED);
    EXPECT_TRUE(enabled(ID_PLAY_MIDI));
    EXPECT_FALSE(enabled(ID_STOP_PLAYING)) << "a paused piece cannot be stopped";
    clickMenuItem(QStringLiteral("&File"), ID_STOP_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED) << "a greyed item does not run";

    clickToolButton(ID_PLAY_MIDI);
    pressKey(Qt::CTRL | Qt::Key_N);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING) << "File New leaves the piece playing";
    EXPECT_FALSE(enabled(ID_PLAY_MIDI));
    EXPECT_FALSE(enabled(ID_STOP_PLAYING)) << "no file name: every transport command is off";
}

TEST_F(MainFrameTest, APieceAtItsEndStopsOrPlaysAgainWithLoop)
{
    start();
    chooseDevice("Recorder");
    app->OpenDocumentFile(file("one.mid")); // Autoplay and Loop are on by default
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    runTo(3000000); // the piece is a second long: it plays again and again
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
    EXPECT_GE(notesPlayed().size(), 2u);

    clickMenuItem(QStringLiteral("&Options"), ID_OPTIONS_LOOP); // off
    runTo(5000000);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    const std::size_t played = notesPlayed().size();
    runTo(7000000);
    EXPECT_EQ(notesPlayed().size(), played) << "without Loop it stays stopped";

    // The position pane shows the last position after the stop.
    clickToolButton(ID_PLAY_MIDI);
    runTo(7400000);
    frame->OnTimer(ID_TIMER_POSITION);
    frame->OnIdleUpdateCmdUI();
    EXPECT_TRUE(frame->m_wndStatusBar.pane(1)->text().contains(QLatin1Char('/')));
    EXPECT_EQ(frame->m_wndStatusBar.pane(1)->text().size(), 33);
}

// A file that does not load while a piece plays: the stop it caused is
// reported all the same, and every later end of a piece is handled as before.
TEST_F(MainFrameTest, AFileThatFailsWhilePlayingLeavesTheEndsOfLaterPiecesHandled)
{
    start();
    chooseDevice("Recorder");
    app->OpenDocumentFile(file("one.mid")); // Autoplay and Loop are on by default
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    runTo(400000);
    app->OpenDocumentFile(file("bad.mid"));
    settle();
    // (Otherwise each later wait for the window would take seconds.)
    ASSERT_EQ(g_hNotifyEvent->size(), 0u) << "the stop's notification was taken";
    app->OpenDocumentFile(file("two.mid"));
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    const std::size_t before = notesPlayed().size();
    runTo(recorder->now() + 3500000); // a second long: Loop plays it three times more
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
    const std::vector<int> notes = notesPlayed();
    EXPECT_GE(std::count(notes.begin() + std::ptrdiff_t(before), notes.end(), 62), 3);
}

// The port goes away while a piece plays (an ALSA client that quits): the
// window stops, its transport follows, and the status bar names the port.
TEST_F(MainFrameTest, APortThatGoesAwayWhilePlayingStopsAndSaysWhich)
{
    start();
    chooseDevice("Recorder");
    app->OpenDocumentFile(file("one.mid")); // Autoplay and Loop are on by default
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    runTo(300000);
    recorder->disappear();
    runTo(2500000); // Loop does not start it again on a port that is gone
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    EXPECT_EQ(frame->m_wndStatusBar.paneText(0),
              QStringLiteral("Stopped: the output port \"Recorder\" went away"));
    EXPECT_TRUE(enabled(ID_PLAY_MIDI));
    EXPECT_FALSE(enabled(ID_STOP_PLAYING));
    EXPECT_FALSE(enabled(ID_PAUSE_PLAYING));

    // Another port plays the piece.
    chooseDevice("Plain recorder");
    clickToolButton(ID_PLAY_MIDI);
    runTo(recorder->now() + 300000);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
    EXPECT_FALSE(notesPlayed().empty());
}

TEST_F(MainFrameTest, PlayNextFileWithNeitherOptionOnlyStops)
{
    start();
    chooseDevice("Recorder");
    app->WriteProfileInt(profile::kSettings, profile::kLoop, 0);
    app->OpenDocumentFile(file("one.mid"));
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    clickToolButton(ID_PLAY_NEXT_FILE);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
}

TEST_F(MainFrameTest, TheDeviceListChangesThePortAndRecordsTheChoice)
{
    start();
    QComboBox* combo = frame->m_wndDlgBar->combo();
    chooseDevice("Built-in synthesizer (FluidSynth)");
    EXPECT_EQ(stored(profile::kDevice), 0) << "the active entry is written too";
    chooseDevice("Plain recorder");
    EXPECT_EQ(stored(profile::kDevice), combo->findText(QStringLiteral("Plain recorder")));
    EXPECT_EQ(g_pPortCaps->id, "test:plain");
    EXPECT_FALSE(frame->commandAction(ID_OPTIONS_REVERB)->isEnabled()) << "no reverb on that port";
    clickMenuItem(QStringLiteral("&Options"), ID_OPTIONS_REVERB); // greyed: nothing happens
    EXPECT_TRUE(checked(ID_OPTIONS_REVERB));
    chooseDevice("Recorder");
    EXPECT_TRUE(frame->commandAction(ID_OPTIONS_REVERB)->isEnabled());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainFrameTest, NoPortSaysCreateAndAddPortFailedAndLeavesTheOptionsUnchecked)
{
    start(false);
    EXPECT_EQ(messages, QStringList{QStringLiteral("CreateAndAddPort failed!")});
    EXPECT_FALSE(checked(ID_OPTIONS_AUTOPLAY));
    EXPECT_FALSE(checked(ID_OPTIONS_LOOP));
    keyMenu(Qt::Key_O, {Qt::Key_Up, Qt::Key_Return}); // Send a GM Reset
    EXPECT_EQ(stored(profile::kGmReset), 8);
}

TEST_F(MainFrameTest, OpeningRecordsTheDirectoryAndReportsAFileThatDoesNotLoad)
{
    start();
    chooseDevice("Recorder");
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    app->OpenDocumentFile(file("one.mid"));
    EXPECT_EQ(app->GetProfileString(profile::kSettings, profile::kDefaultDirectory), folder + "/");
    EXPECT_EQ(app->GetProfileString(profile::kSettings, profile::kDefaultDirectoryName), folder);
    EXPECT_EQ(QDir::currentPath().toStdString(), folder);
    // The tree was rebuilt along the new directory, and the list shows it.
    CDirectoryView* tree = frame->GetDirectoryView();
    std::string selected;
    ASSERT_NE(tree->currentItem(), nullptr);
    tree->BuildItemPath(tree->currentItem(), selected);
    EXPECT_EQ(selected, folder + "/");
    EXPECT_EQ(frame->GetFilesView()->topLevelItemCount(), 4);

    app->OpenDocumentFile(file("bad.mid"));
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), file("bad.mid"))
        << "the document still takes the path";
    EXPECT_EQ((*app->recentFileList())[0], file("bad.mid"));
    const QString said = frame->m_wndStatusBar.paneText(0);
    EXPECT_TRUE(said.startsWith(QStringLiteral("Cannot play bad.mid: "))) << said.toStdString();
    EXPECT_TRUE(messages.isEmpty()) << "no dialog";
    app->OpenDocumentFile(file("two.mid"));
    EXPECT_EQ(frame->m_wndStatusBar.paneText(0), QStringLiteral("Ready"));
}

TEST_F(MainFrameTest, DroppedFilesOpenInDropOrderAndAreNeverMoved)
{
    start();
    chooseDevice("Recorder");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("one.mid"))),
                  QUrl::fromLocalFile(dir.filePath(QStringLiteral("two.mid"))),
                  QUrl::fromLocalFile(dir.filePath(QStringLiteral("three.mid")))});
    // As a desktop delivers it: the drag enters the window, moves, drops. The
    // source would let the files be moved, and Shift proposes it: they are copied.
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    QDragEnterEvent enter(QPoint(10, 10), offered, &data, Qt::LeftButton, shift);
    ASSERT_EQ(enter.proposedAction(), Qt::MoveAction);
    QCoreApplication::sendEvent(frame, &enter);
    ASSERT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDragMoveEvent move(QPoint(20, 20), offered, &data, Qt::LeftButton, shift);
    QCoreApplication::sendEvent(frame, &move);
    EXPECT_TRUE(move.isAccepted());
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(20, 20), offered, &data, Qt::LeftButton, shift);
    QCoreApplication::sendEvent(frame, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), file("three.mid"));
    EXPECT_EQ((*app->recentFileList())[0], file("three.mid"));
    EXPECT_EQ((*app->recentFileList())[1], file("two.mid"));
    EXPECT_EQ((*app->recentFileList())[2], file("one.mid"));

    // A source that offers only a move is refused, and nothing opens.
    QMimeData moveOnly;
    moveOnly.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("one.mid")))});
    QDragEnterEvent refused(QPoint(10, 10), Qt::MoveAction, &moveOnly, Qt::LeftButton,
                            Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &refused);
    EXPECT_FALSE(refused.isAccepted());
    QDropEvent moved(QPointF(10, 10), Qt::MoveAction, &moveOnly, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &moved);
    EXPECT_FALSE(moved.isAccepted());
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), file("three.mid"));
}

TEST_F(MainFrameTest, AFileOnTheCommandLinePlaysBeforeTheWindowIsShown)
{
    EngineOptions options;
    options.clock = music::Performance::Clock::Offline;
    options.ports.alsa = false;
    options.ports.synthOutput = music::SynthOutput::Offline;
    SetEngineOptions(options);
    app = std::make_unique<TestApp>();
    app->setArguments({QFile::encodeName(dir.filePath(QStringLiteral("two.mid")))});
    // The document is opened, and plays, while the frame is made: before it
    // is shown. What holds at the moment the window shows:
    struct ShowWatcher : QObject
    {
        std::optional<bool> playing;
        std::string path;
        bool eventFilter(QObject* object, QEvent* event) override
        {
            if (event->type() == QEvent::Show && qobject_cast<CMainFrame*>(object) && !playing) {
                playing = g_pSegmentState && g_nPlayState == PLAY_PLAYING;
                const auto* frame = static_cast<CMainFrame*>(object);
                const framework::Document* document = frame->GetFilesView()->GetDocument();
                path = document ? document->GetPathName() : std::string();
            }
            return false;
        }
    } watcher;
    qApp->installEventFilter(&watcher);
    const bool started = app->InitInstance();
    qApp->removeEventFilter(&watcher);
    ASSERT_TRUE(started);
    frame = qobject_cast<CMainFrame*>(app->m_pMainWnd.data());
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    ASSERT_TRUE(watcher.playing.has_value()) << "the window was shown";
    EXPECT_TRUE(*watcher.playing);
    EXPECT_EQ(watcher.path, file("two.mid"));
}

TEST_F(MainFrameTest, AnEngineThatCannotStartEndsTheProgramSilently)
{
    EngineOptions options;
    options.failStart = true;
    SetEngineOptions(options);
    app = std::make_unique<TestApp>();
    EXPECT_FALSE(app->InitInstance());
    EXPECT_EQ(app->m_pMainWnd, nullptr);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(g_pPerformance, nullptr) << "what was made is released again";
}

TEST_F(MainFrameTest, RegisterAndUnregisterRunAndEnd)
{
    const QString entry =
        qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications/kestrune.desktop");
    QFile::remove(entry);
    app = std::make_unique<TestApp>();
    app->setArguments({"-Register"});
    EXPECT_FALSE(app->InitInstance());
    EXPECT_TRUE(QFile::exists(entry));
    EXPECT_EQ(g_pPerformance, nullptr) << "a run without a window shuts the engine down";
    app.reset();
    app = std::make_unique<TestApp>();
    app->setArguments({"/Unregserver"});
    EXPECT_FALSE(app->InitInstance());
    EXPECT_FALSE(QFile::exists(entry));
    app.reset();
}

TEST_F(MainFrameTest, FileOpenOffersTheTemplatesFilterAndOpensTheChoice)
{
    start();
    chooseDevice("Recorder");
    const QStringList filters = app->fileDialogFilters();
    ASSERT_EQ(filters.size(), 2);
    // What the dialog shows, then the patterns it matches (the shown ones in any case).
    EXPECT_EQ(filters[0], QStringLiteral("Brisolde Files (*.mid) (*.[mM][iI][dD])"));
    EXPECT_EQ(filters[1], QStringLiteral("All Files (*.*) (*)"));

    // The command goes to the application, which opens what the user chose.
    pressKey(Qt::CTRL | Qt::Key_O); // cancelled: nothing opens
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), "");
    app->answer = file("three.mid");
    pressKey(Qt::CTRL | Qt::Key_O);
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), file("three.mid"));
}

TEST_F(MainFrameTest, PlayDirectoryWalksTheListAndWrapsOnlyWithLoop)
{
    // A file that does not load ends the walk (nothing plays, so nothing
    // ends): this folder holds only good ones.
    QFile::remove(dir.filePath(QStringLiteral("bad.mid")));
    start();
    chooseDevice("Recorder");
    keyMenu(Qt::Key_O, {Qt::Key_D}); // Play Directory on
    app->OpenDocumentFile(file("one.mid"));
    CFilesView* files = frame->GetFilesView();
    ASSERT_EQ(files->topLevelItemCount(), 3);
    // The rows in listing order; each piece is a second long.
    std::vector<std::string> order;
    for (int i = 0; i < files->topLevelItemCount(); ++i)
        order.push_back(files->topLevelItem(i)->text(0).toStdString());

    // Every file that comes to play, in turn.
    auto current = [this] {
        return QFileInfo(QString::fromStdString(app->docTemplate()->document()->GetPathName()))
            .fileName()
            .toStdString();
    };
    std::vector<std::string> played;
    std::int64_t t = recorder->now();
    for (int step = 0; step < 80; ++step) {
        t += 100000;
        runTo(t);
        if (current() != (played.empty() ? std::string("one.mid") : played.back()))
            played.push_back(current());
    }
    // Opening the file left no row selected, so the walk starts at the first
    // row, goes down the list and past the end to the first row again (Loop).
    // (Where the first row is one.mid itself, its second playing shows no change.)
    ASSERT_GE(played.size(), 5u);
    std::vector<std::string> expected;
    for (std::size_t i = 0; expected.size() < played.size(); ++i) {
        if (i > 0 || order[0] != "one.mid")
            expected.push_back(order[i % order.size()]);
    }
    EXPECT_EQ(played, expected);

    // Without Loop the walk ends after the last row, with no row selected.
    keyMenu(Qt::Key_O, {Qt::Key_L}); // Loop off
    for (int i = 0; i < 6; ++i) {
        t += 1500000;
        runTo(t);
    }
    EXPECT_EQ(files->GetSelectedIndex(), -1);
    EXPECT_NE(g_nPlayState, PLAY_PLAYING);
}

TEST_F(MainFrameTest, TheBuiltInSynthesizerPlaysAPieceToItsEndAndAgainWithLoop)
{
    start(); // the built-in synthesizer, rendered offline, is the default port
    auto* synth = dynamic_cast<music::internal::SynthPort*>(g_pPort);
    ASSERT_NE(synth, nullptr);
    app->OpenDocumentFile(file("one.mid"));
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    std::vector<float> left(1024);
    std::vector<float> right(1024);
    auto renderSeconds = [&](double seconds) {
        float peak = 0;
        for (int done = 0; done < int(seconds * synth->sampleRate()); done += 1024) {
            g_pPerformance->pump();
            synth->renderOffline(left.data(), right.data(), 1024);
            settle();
            for (float v : left)
                peak = std::max(peak, std::fabs(v));
        }
        return peak;
    };
    EXPECT_GT(renderSeconds(3.5), 0.01f);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING) << "Loop plays it again";
    keyMenu(Qt::Key_O, {Qt::Key_L}); // Loop off
    renderSeconds(3.0);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    EXPECT_LT(renderSeconds(1.0), 1e-4f) << "stopped means silent";
}

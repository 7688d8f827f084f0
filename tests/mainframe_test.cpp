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

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
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
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>

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
    void chooseDevice(const char* description)
    {
        QComboBox* combo = frame->m_wndDlgBar->combo();
        const int index = combo->findText(QString::fromUtf8(description));
        ASSERT_GE(index, 0);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
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

TEST_F(MainFrameTest, TogglesStoreEightOrZeroFromTheCheckMarkAndReverbIsNeverStored)
{
    ASSERT_TRUE(testsupport::writeFile(profilePath(), "[Settings]\nLoop=1\n"));
    start();
    EXPECT_FALSE(checked(ID_OPTIONS_LOOP)) << "1 counts as on but shows unchecked";
    frame->OnCommand(ID_OPTIONS_LOOP);
    EXPECT_EQ(stored(profile::kLoop), 8);
    EXPECT_TRUE(checked(ID_OPTIONS_LOOP));
    frame->OnCommand(ID_OPTIONS_LOOP);
    EXPECT_EQ(stored(profile::kLoop), 0);
    frame->OnCommand(ID_OPTIONS_AUTOPLAY);
    EXPECT_EQ(stored(profile::kAutoplay), 0);
    frame->OnCommand(ID_OPTIONS_PLAY_DIRECTORY);
    EXPECT_EQ(stored(profile::kPlayDirectory), 8);
    frame->OnCommand(ID_OPTIONS_GM_RESET);
    EXPECT_EQ(stored(profile::kGmReset), 0);

    frame->OnCommand(ID_OPTIONS_REVERB);
    EXPECT_FALSE(checked(ID_OPTIONS_REVERB));
    frame->OnCommand(ID_OPTIONS_REVERB);
    EXPECT_TRUE(checked(ID_OPTIONS_REVERB));
    EXPECT_EQ(stored(profile::kReverb), -99) << "Reverb never reaches the profile";
    EXPECT_FALSE(testsupport::readFile(profilePath()).contains("Reverb"));
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

    frame->OnCommand(ID_PLAY_MIDI);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
    EXPECT_FALSE(enabled(ID_PLAY_MIDI));
    EXPECT_TRUE(enabled(ID_PAUSE_PLAYING));
    EXPECT_TRUE(enabled(ID_STOP_PLAYING));
    EXPECT_TRUE(enabled(ID_PLAY_NEXT_FILE));

    frame->OnCommand(ID_PAUSE_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED);
    EXPECT_TRUE(enabled(ID_PLAY_MIDI));
    EXPECT_FALSE(enabled(ID_STOP_PLAYING)) << "a paused piece cannot be stopped";
    frame->OnCommand(ID_STOP_PLAYING);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED) << "a disabled command does not run";

    frame->OnCommand(ID_PLAY_MIDI);
    app->OnFileNew();
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

    frame->OnCommand(ID_OPTIONS_LOOP); // off
    runTo(5000000);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    const std::size_t played = notesPlayed().size();
    runTo(7000000);
    EXPECT_EQ(notesPlayed().size(), played) << "without Loop it stays stopped";

    // The position pane shows the last position after the stop.
    frame->OnCommand(ID_PLAY_MIDI);
    runTo(7400000);
    frame->OnTimer(ID_TIMER_POSITION);
    frame->OnIdleUpdateCmdUI();
    EXPECT_TRUE(frame->m_wndStatusBar.pane(1)->text().contains(QLatin1Char('/')));
    EXPECT_EQ(frame->m_wndStatusBar.pane(1)->text().size(), 33);
}

TEST_F(MainFrameTest, PlayNextFileWithNeitherOptionOnlyStops)
{
    start();
    chooseDevice("Recorder");
    app->WriteProfileInt(profile::kSettings, profile::kLoop, 0);
    app->OpenDocumentFile(file("one.mid"));
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    frame->OnCommand(ID_PLAY_NEXT_FILE);
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
    frame->OnCommand(ID_OPTIONS_REVERB);
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
    frame->OnCommand(ID_OPTIONS_GM_RESET);
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

TEST_F(MainFrameTest, DroppedFilesOpenInDropOrder)
{
    start();
    chooseDevice("Recorder");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("one.mid"))),
                  QUrl::fromLocalFile(dir.filePath(QStringLiteral("two.mid"))),
                  QUrl::fromLocalFile(dir.filePath(QStringLiteral("three.mid")))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // As a desktop delivers it: the drag enters the window, then drops.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QCoreApplication::sendEvent(frame, &drop);
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), file("three.mid"));
    EXPECT_EQ((*app->recentFileList())[0], file("three.mid"));
    EXPECT_EQ((*app->recentFileList())[1], file("two.mid"));
    EXPECT_EQ((*app->recentFileList())[2], file("one.mid"));
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
    // The document is opened, and plays, while the frame is made: before it is shown.
    bool hiddenWhilePlaying = false;
    QTimer::singleShot(0, [] {});
    ASSERT_TRUE(app->InitInstance());
    frame = qobject_cast<CMainFrame*>(app->m_pMainWnd.data());
    ASSERT_NE(frame, nullptr);
    hiddenWhilePlaying = g_pSegmentState && g_nPlayState == PLAY_PLAYING;
    EXPECT_TRUE(hiddenWhilePlaying);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), file("two.mid"));
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
    frame->OnCommand(ID_FILE_OPEN); // cancelled: nothing opens
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), "");
    app->answer = file("three.mid");
    frame->OnCommand(ID_FILE_OPEN);
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(), file("three.mid"));
}

TEST_F(MainFrameTest, PlayDirectoryWalksTheListAndWrapsOnlyWithLoop)
{
    // A file that does not load ends the walk (nothing plays, so nothing
    // ends): this folder holds only good ones.
    QFile::remove(dir.filePath(QStringLiteral("bad.mid")));
    start();
    chooseDevice("Recorder");
    frame->OnCommand(ID_OPTIONS_PLAY_DIRECTORY); // on
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
    frame->OnCommand(ID_OPTIONS_LOOP); // off
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
    frame->OnCommand(ID_OPTIONS_LOOP); // off
    renderSeconds(3.0);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    EXPECT_LT(renderSeconds(1.0), 1e-4f) << "stopped means silent";
}

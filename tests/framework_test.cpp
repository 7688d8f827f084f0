#include "doctemplate.h"
#include "document.h"
#include "framewnd.h"
#include "messagebox.h"
#include "resource.h"
#include "winapp.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace framework;

namespace {

struct TestDoc : Document
{
    std::vector<std::string> opened;
    int newCount = 0;
    bool openResult = true;

    bool OnOpenDocument(const std::string& path) override
    {
        opened.push_back(path);
        return openResult && Document::OnOpenDocument(path);
    }
    bool OnNewDocument() override
    {
        ++newCount;
        return Document::OnNewDocument();
    }
};

struct TestView : QWidget, View
{
    int initialUpdates = 0;
    int updates = 0;
    View* lastSender = reinterpret_cast<View*>(1);
    std::intptr_t lastHint = -1;

    QWidget* widget() override { return this; }
    void OnInitialUpdate() override
    {
        ++initialUpdates;
        View::OnInitialUpdate();
    }
    void OnUpdate(View* sender, std::intptr_t hint, QObject*) override
    {
        ++updates;
        lastSender = sender;
        lastHint = hint;
    }
};

// A frame with two views side by side, as the main window has.
struct TestFrame : FrameWnd
{
    TestView* left = nullptr;
    TestView* right = nullptr;
    QToolBar* toolBar = nullptr;
    static inline bool failCreate = false;

    int OnCreate(CreateContext* context) override
    {
        if (failCreate || FrameWnd::OnCreate(context) == -1)
            return -1;
        toolBar = addToolBar(QStringLiteral("tools"));
        LoadToolBar(toolBar, IDR_MAINFRAME);
        statusPanes().create(this, {ID_SEPARATOR, ID_INDICATOR_POSITION, ID_INDICATOR_CAPS},
                             [](int id) { return QStringLiteral("pane %1").arg(id); });
        return 0;
    }
    bool OnCreateClient(CreateContext* context) override
    {
        auto* splitter = new QSplitter(this);
        left = new TestView;
        right = new TestView;
        left->setFocusPolicy(Qt::StrongFocus);
        right->setFocusPolicy(Qt::StrongFocus);
        splitter->addWidget(left);
        splitter->addWidget(right);
        context->m_pCurrentDoc->AddView(left);
        context->m_pCurrentDoc->AddView(right);
        setCentralWidget(splitter);
        return true;
    }
};

// Lets the event loop run until it has nothing left to do and waits, which
// is when the idle updates happen.
void runUntilIdle()
{
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
}

class FrameworkTest : public testing::Test
{
protected:
    void SetUp() override
    {
        TestFrame::failCreate = false;
        app.SetRegistryKey("Framework Test");
        app.LoadStdProfileSettings(16);
        app.AddDocTemplate(new SingleDocTemplate(
            IDR_MAINFRAME, [] { return new TestDoc; }, [] { return new TestFrame; }, nullptr));
        setMessageBoxHook([this](const QString& text, QMessageBox::Icon) {
            messages << text;
            return int(QMessageBox::Ok);
        });
    }
    void TearDown() override { setMessageBoxHook({}); }

    TestDoc* doc() const { return static_cast<TestDoc*>(app.docTemplate()->document()); }
    TestFrame* frame() const { return static_cast<TestFrame*>(app.docTemplate()->frame()); }
    QMenu* menu(const QString& title) const
    {
        for (QAction* action : frame()->menuBar()->actions()) {
            if (action->menu() && action->text() == title)
                return action->menu();
        }
        return nullptr;
    }

    WinApp app{"FrameworkTest"};
    QStringList messages;
};

} // namespace

TEST_F(FrameworkTest, TheOpenPathReusesOneDocumentAndFrame)
{
    ASSERT_NE(app.docTemplate()->OpenDocumentFile(std::nullopt), nullptr);
    TestDoc* d = doc();
    TestFrame* f = frame();
    ASSERT_TRUE(d && f);
    EXPECT_EQ(app.m_pMainWnd, f) << "the first frame becomes the main window";
    EXPECT_EQ(d->newCount, 1);
    EXPECT_EQ(d->GetTitle(), QStringLiteral("Untitled"));
    EXPECT_EQ(f->left->initialUpdates, 1);
    EXPECT_EQ(f->right->initialUpdates, 1);

    ASSERT_EQ(app.OpenDocumentFile("/music/a.mid"), d);
    EXPECT_EQ(frame(), f) << "one frame for the whole run";
    EXPECT_EQ(d->opened, std::vector<std::string>{"/music/a.mid"});
    EXPECT_EQ(d->GetPathName(), "/music/a.mid");
    EXPECT_EQ(d->GetTitle(), QStringLiteral("a.mid"));
    EXPECT_EQ((*app.recentFileList())[0], "/music/a.mid");
    EXPECT_EQ(f->left->initialUpdates, 2) << "every open gives the views their initial update";
    EXPECT_EQ(f->windowTitle(), QStringLiteral("a.mid - FrameworkTest"));

    // The document's own file again: only the frame comes forward.
    app.OpenDocumentFile("/music/a.mid");
    EXPECT_EQ(d->opened.size(), 1u);
    EXPECT_EQ(f->left->initialUpdates, 2);

    // Paths compare exactly; a relative one is taken from the current directory.
    app.OpenDocumentFile("/music/A.mid");
    EXPECT_EQ(d->opened.back(), "/music/A.mid");
    const std::string cwd = QDir::currentPath().toStdString();
    app.OpenDocumentFile("sub/../b.mid");
    EXPECT_EQ(d->opened.back(), cwd + "/b.mid");

    // A failed open keeps the previous path.
    d->openResult = false;
    EXPECT_EQ(app.OpenDocumentFile("/music/bad.mid"), nullptr);
    EXPECT_EQ(d->GetPathName(), cwd + "/b.mid");
    EXPECT_EQ(app.docTemplate()->frame(), f) << "an existing frame stays after a failed open";

    // File New empties the path, keeps the document.
    app.OnFileNew();
    EXPECT_EQ(doc(), d);
    EXPECT_EQ(d->GetPathName(), "");
    EXPECT_EQ(d->newCount, 2);
}

TEST_F(FrameworkTest, AFrameThatCannotBeCreatedIsReported)
{
    TestFrame::failCreate = true;
    EXPECT_EQ(app.docTemplate()->OpenDocumentFile(std::nullopt), nullptr);
    EXPECT_EQ(messages, QStringList{QStringLiteral("Failed to create empty document.")});
    EXPECT_EQ(app.docTemplate()->document(), nullptr);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(FrameworkTest, UpdateAllViewsSkipsTheSender)
{
    app.OnFileNew();
    TestView* left = frame()->left;
    TestView* right = frame()->right;
    const int leftBefore = left->updates;
    doc()->UpdateAllViews(left, 7);
    EXPECT_EQ(left->updates, leftBefore);
    EXPECT_EQ(right->lastSender, left);
    EXPECT_EQ(right->lastHint, 7);
    doc()->UpdateAllViews(nullptr);
    EXPECT_EQ(left->updates, leftBefore + 1);
    EXPECT_EQ(left->lastSender, nullptr);
}

TEST_F(FrameworkTest, MenuItemsTakeTheirStateFromUpdateHandlersWhenTheMenuOpens)
{
    app.OnFileNew();
    TestFrame* f = frame();
    int copies = 0;
    int frameCopies = 0;
    f->left->onCommand(ID_EDIT_COPY, [&] { ++copies; });
    f->onCommand(ID_EDIT_COPY, [&] { ++frameCopies; });
    doc()->onUpdateCommandUI(ID_EDIT_PASTE, [](CmdUI& ui) {
        ui.SetCheck(1);
        ui.SetText(QStringLiteral("Paste here"));
    });
    f->onUpdateCommandUI(ID_FILE_SAVE, [](CmdUI& ui) { ui.Enable(false); });
    f->onCommand(ID_OPTIONS_REVERB, [] {});
    f->onUpdateCommandUI(ID_OPTIONS_REVERB, [](CmdUI&) {}); // leaves the state alone

    QMenu* edit = menu(QStringLiteral("&Edit"));
    QMenu* file = menu(QStringLiteral("&File"));
    QMenu* options = menu(QStringLiteral("&Options"));
    ASSERT_TRUE(edit && file && options);
    f->EnableMenuItem(ID_OPTIONS_REVERB, MF_GRAYED);
    emit edit->aboutToShow();
    emit file->aboutToShow();
    emit options->aboutToShow();

    QAction* copy = f->commandAction(ID_EDIT_COPY);
    QAction* paste = f->commandAction(ID_EDIT_PASTE);
    EXPECT_TRUE(copy->isEnabled()) << "a command handler and no update handler: enabled";
    EXPECT_FALSE(f->commandAction(ID_EDIT_UNDO)->isEnabled()) << "no handler at all: disabled";
    EXPECT_TRUE(paste->isChecked());
    EXPECT_EQ(paste->text(), QStringLiteral("Paste here"));
    EXPECT_FALSE(f->commandAction(ID_FILE_SAVE)->isEnabled());
    EXPECT_TRUE(f->commandAction(ID_FILE_NEW)->isEnabled()) << "the application handles it";
    EXPECT_EQ(f->GetMenuState(ID_OPTIONS_REVERB) & MF_GRAYED, MF_GRAYED);

    // The active view handles a command before the frame does.
    copy->trigger();
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(frameCopies, 0);
    f->SetActiveView(f->right);
    copy->trigger();
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(frameCopies, 1);
}

TEST_F(FrameworkTest, ToolbarButtonsAndPanesUpdateWhenTheLoopIsIdle)
{
    app.OnFileNew();
    TestFrame* f = frame();
    bool playing = false;
    int plays = 0;
    f->onCommand(ID_PLAY_MIDI, [&] { ++plays; });
    f->onUpdateCommandUI(ID_PLAY_MIDI, [&](CmdUI& ui) { ui.Enable(!playing); });
    f->onUpdateCommandUI(ID_INDICATOR_POSITION, [&](CmdUI& ui) {
        ui.SetText(playing ? QStringLiteral("  1/ 2") : QString());
    });
    f->onUpdateCommandUI(ID_INDICATOR_CAPS, [](CmdUI& ui) { ui.Enable(false); });
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f));

    QAction* play = f->commandAction(ID_PLAY_MIDI);
    ASSERT_TRUE(f->toolBar->actions().contains(play));
    runUntilIdle();
    EXPECT_TRUE(play->isEnabled());
    playing = true;
    runUntilIdle();
    EXPECT_FALSE(play->isEnabled());
    EXPECT_EQ(f->statusPanes().pane(1)->text(), QStringLiteral("  1/ 2"));
    EXPECT_EQ(f->statusPanes().pane(2)->text(), QString()) << "a disabled pane shows nothing";

    // A command whose update handler disables it does not run, even when sent
    // by a key before the button caught up.
    play->setEnabled(true);
    play->trigger();
    EXPECT_EQ(plays, 0);
    playing = false;
    play->trigger();
    EXPECT_EQ(plays, 1);
}

TEST_F(FrameworkTest, CheckMarksUseTheMenuCheckFlag)
{
    app.OnFileNew();
    TestFrame* f = frame();
    f->CheckMenuItem(ID_OPTIONS_LOOP, 8);
    EXPECT_EQ(f->GetMenuState(ID_OPTIONS_LOOP) & MF_CHECKED, MF_CHECKED);
    f->CheckMenuItem(ID_OPTIONS_LOOP, 1); // a stored 1: on for behaviour, unchecked in the menu
    EXPECT_EQ(f->GetMenuState(ID_OPTIONS_LOOP) & MF_CHECKED, 0u);
    EXPECT_EQ(f->GetMenuState(12345), kMenuStateNotFound);

    // The mark is the program's: a handler sees it as the user saw it, and
    // choosing the item changes it only when the handler does.
    unsigned seen = 0;
    f->onCommand(ID_OPTIONS_LOOP, [&] { seen = f->GetMenuState(ID_OPTIONS_LOOP) & MF_CHECKED; });
    f->CheckMenuItem(ID_OPTIONS_LOOP, MF_CHECKED);
    emit menu(QStringLiteral("&Options"))->aboutToShow();
    f->commandAction(ID_OPTIONS_LOOP)->trigger();
    EXPECT_EQ(seen, MF_CHECKED);
    EXPECT_EQ(f->GetMenuState(ID_OPTIONS_LOOP) & MF_CHECKED, MF_CHECKED);
}

TEST_F(FrameworkTest, RecentFilesAppearInTheFileMenuAndOpenAgain)
{
    app.OnFileNew();
    app.OpenDocumentFile("/music/first.mid");
    app.OpenDocumentFile("/music/second.mid");
    QMenu* file = menu(QStringLiteral("&File"));
    emit file->aboutToShow();
    QStringList texts;
    QAction* firstEntry = nullptr;
    for (QAction* action : file->actions()) {
        if (action->isVisible() && !action->isSeparator())
            texts << action->text();
        if (action->text() == QStringLiteral("&2 /music/first.mid"))
            firstEntry = action;
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("&1 /music/second.mid")))
        << texts.join('|').toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("Recent File")));
    ASSERT_NE(firstEntry, nullptr);
    firstEntry->trigger();
    EXPECT_EQ(doc()->GetPathName(), "/music/first.mid");
    EXPECT_EQ((*app.recentFileList())[0], "/music/first.mid");
}

// The two panes on folders made here: what the tree opens and shows, what the
// list lists, and how both hand choices on.
#include "directoryview.h"
#include "drives.h"
#include "filesview.h"
#include "profilenames.h"
#include "testsupport.h"
#include "winapp.h"

#include <QDir>
#include <QHeaderView>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A document that records what it is asked to open.
struct RecordingDoc : framework::Document
{
    std::vector<std::string> opened;
    bool OnOpenDocument(const std::string& path) override
    {
        opened.push_back(path);
        return true;
    }
};

class BrowserTest : public testing::Test
{
protected:
    void SetUp() override
    {
        app.SetRegistryKey("Browser Test");
        root = QFile::encodeName(dir.path()).toStdString() + "/";
    }
    void TearDown() override
    {
        // Some names here are not UTF-8, and some folders are locked.
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(
                 root, std::filesystem::directory_options::skip_permission_denied, ignored))
            ::chmod(entry.path().c_str(), 0700);
        std::filesystem::remove_all(root, ignored);
    }
    void setStart(const std::string& path)
    {
        app.WriteProfileString(profile::kSettings, profile::kDefaultDirectory, path);
    }
    std::string stored() const
    {
        return app.GetProfileString(profile::kSettings, profile::kDefaultDirectory);
    }
    void mkdir(const std::string& relative) const
    {
        std::filesystem::create_directories(root + relative);
    }
    void touch(const std::string& relative, const std::string& bytes = "MThd") const
    {
        std::FILE* f = std::fopen((root + relative).c_str(), "w");
        ASSERT_NE(f, nullptr) << relative;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    static QStringList childTexts(QTreeWidgetItem* item)
    {
        QStringList texts;
        for (int i = 0; i < item->childCount(); ++i)
            texts << item->child(i)->text(0);
        return texts;
    }
    // The item for `path` (a full path ending with '/'), walking from "/".
    static QTreeWidgetItem* find(CDirectoryView& tree, const std::string& path)
    {
        QTreeWidgetItem* item = nullptr;
        for (int i = 0; i < tree.topLevelItemCount(); ++i) {
            if (tree.topLevelItem(i)->text(0) == QStringLiteral("/"))
                item = tree.topLevelItem(i);
        }
        std::string built = "/";
        std::size_t start = 1;
        while (item && start < path.size()) {
            const std::size_t slash = path.find('/', start);
            const std::string name = path.substr(start, slash - start);
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; i < item->childCount(); ++i) {
                std::string childPath;
                tree.BuildItemPath(item->child(i), childPath);
                if (childPath == built + name + "/")
                    next = item->child(i);
            }
            built += name + "/";
            item = next;
            start = slash + 1;
        }
        return item;
    }
    QStringList fileNames(CFilesView& list) const
    {
        QStringList names;
        for (int i = 0; i < list.topLevelItemCount(); ++i)
            names << list.topLevelItem(i)->text(0);
        return names;
    }

    framework::WinApp app{"BrowserTest"};
    QTemporaryDir dir;
    std::string root;
};

} // namespace

TEST_F(BrowserTest, TheTreeOpensAlongTheStoredPathAndShowsOnlyDirectories)
{
    mkdir("Music/Midi/Bach");
    mkdir("Music/zeta");
    mkdir("Music/Alpha");
    mkdir("Music/beta");
    mkdir("Music/.hidden");
    touch("Music/song.mid");
    std::filesystem::create_directory_symlink(root + "Music/Alpha", root + "Music/linked");
    std::filesystem::create_symlink(root + "Music/nowhere", root + "Music/dangling");
    std::filesystem::create_symlink(root + "Music/loop", root + "Music/loop");
    setStart(root + "Music/Midi/");

    CDirectoryView tree;
    tree.OnInitialUpdate();
    QTreeWidgetItem* music = find(tree, root + "Music/");
    QTreeWidgetItem* midi = find(tree, root + "Music/Midi/");
    ASSERT_TRUE(music && midi);
    EXPECT_EQ(childTexts(music), (QStringList{"Alpha", "beta", "linked", "Midi", "zeta"}))
        << "directories and links to them, sorted without regard to case";
    EXPECT_TRUE(music->isExpanded());
    EXPECT_TRUE(midi->isExpanded());
    EXPECT_EQ(tree.currentItem(), midi);
    EXPECT_EQ(childTexts(midi), QStringList{"Bach"}) << "the start directory is listed too";
    EXPECT_EQ(find(tree, root + "Music/Alpha/")->childCount(), 0) << "others wait to be selected";
    EXPECT_EQ(midi->data(0, Qt::UserRole).toInt(), 1);
    EXPECT_EQ(tree.topLevelItem(0)->data(0, Qt::UserRole).toInt(), 0) << "a root's data is 0";
    EXPECT_EQ(stored(), root + "Music/Midi/") << "filling writes nothing";
}

TEST_F(BrowserTest, AStartPathThatHalfExistsDiffersInCaseOrLiesOnNoRoot)
{
    mkdir("Music/Midi");
    {
        setStart(root + "Music/Gone/");
        CDirectoryView tree;
        tree.OnInitialUpdate();
        EXPECT_EQ(tree.currentItem(), find(tree, root + "Music/")) << "the deepest one reached";
    }
    {
        setStart(root + "music/");
        CDirectoryView tree;
        tree.OnInitialUpdate();
        EXPECT_EQ(tree.currentItem(), find(tree, root)) << "a name in another case matches nothing";
    }
    {
        setStart("c:\\");
        CDirectoryView tree;
        tree.OnInitialUpdate();
        EXPECT_EQ(tree.currentItem(), nullptr);
        for (int i = 0; i < tree.topLevelItemCount(); ++i)
            EXPECT_FALSE(tree.topLevelItem(i)->isExpanded());
    }
}

TEST_F(BrowserTest, AClickStoresTheRowsPathAndUpdatesTheOtherViews)
{
    mkdir("Music/Midi");
    mkdir("Music/Other/Deeper/Deepest");
    touch("Music/Other/a.mid");
    setStart(root + "Music/Midi/");
    RecordingDoc document;
    CDirectoryView tree;
    CFilesView list;
    document.AddView(&tree);
    document.AddView(&list);
    tree.resize(400, 600);
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
    tree.OnInitialUpdate();
    list.OnInitialUpdate();
    EXPECT_TRUE(fileNames(list).isEmpty());

    QTreeWidgetItem* other = find(tree, root + "Music/Other/");
    ASSERT_NE(other, nullptr);
    tree.scrollToItem(other);
    const QRect row = tree.visualItemRect(other);
    // Right of the label counts as the item.
    const QPoint rightOfLabel(std::min(row.right(), tree.viewport()->width()) - 2,
                              row.center().y());
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, rightOfLabel);
    EXPECT_EQ(stored(), root + "Music/Other/");
    EXPECT_EQ(fileNames(list), QStringList{"a.mid"});
    EXPECT_EQ(tree.currentItem(), other);
    EXPECT_EQ(childTexts(other), QStringList{"Deeper"}) << "a first selection lists one level";
    EXPECT_FALSE(other->isExpanded()) << "added collapsed";

    // A right-click changes nothing: neither the selection nor what is stored and listed.
    QTreeWidgetItem* midi = find(tree, root + "Music/Midi/");
    QTest::mouseClick(tree.viewport(), Qt::RightButton, {}, tree.visualItemRect(midi).center());
    QTest::mouseDClick(tree.viewport(), Qt::RightButton, {}, tree.visualItemRect(midi).center());
    EXPECT_EQ(tree.currentItem(), other);
    EXPECT_TRUE(other->isSelected());
    EXPECT_FALSE(midi->isSelected());
    EXPECT_EQ(stored(), root + "Music/Other/");
    EXPECT_EQ(fileNames(list), QStringList{"a.mid"});

    // The keyboard moves the selection and lists what it reaches, but stores
    // nothing and leaves the list alone.
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_Right); // opens Other
    QTest::keyClick(&tree, Qt::Key_Down);  // to Deeper
    QTreeWidgetItem* deeper = find(tree, root + "Music/Other/Deeper/");
    EXPECT_EQ(tree.currentItem(), deeper);
    EXPECT_EQ(childTexts(deeper), QStringList{"Deepest"});
    QTest::keyClick(&tree, Qt::Key_Up);
    QTest::keyClick(&tree, Qt::Key_Up); // to Midi
    EXPECT_EQ(tree.currentItem(), midi);
    EXPECT_EQ(stored(), root + "Music/Other/");
    EXPECT_EQ(fileNames(list), QStringList{"a.mid"});

    // Below the last item: nothing stored, the list updated all the same.
    setStart(root + "Music/Midi/");
    tree.collapseAll();
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                      QPoint(10, tree.viewport()->height() - 3));
    EXPECT_EQ(stored(), root + "Music/Midi/");
    EXPECT_TRUE(fileNames(list).isEmpty());
}

// Deep below a narrow pane, the names stay whole: the column is as wide as its
// widest shown name, the tree scrolls sideways, and the selected folder's name
// is scrolled into view.
TEST_F(BrowserTest, DeepFoldersStayReadableTheTreeScrollsSideways)
{
    std::string deep = "Music";
    for (int level = 1; level <= 14; ++level)
        deep += "/Level " + std::to_string(level) + " of a deep folder";
    mkdir(deep);
    setStart(root + deep + "/");
    CDirectoryView tree;
    tree.resize(260, 300);
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
    tree.OnInitialUpdate();
    QTreeWidgetItem* deepest = tree.currentItem();
    ASSERT_NE(deepest, nullptr);
    ASSERT_EQ(deepest->text(0), QStringLiteral("Level 14 of a deep folder"));
    QCoreApplication::processEvents();

    const QRect row = tree.visualItemRect(deepest); // from its picture on, in the viewport
    const int label =
        tree.iconSize().width() + tree.fontMetrics().horizontalAdvance(deepest->text(0));
    const int scrolled = tree.horizontalScrollBar()->value();
    EXPECT_GT(tree.horizontalScrollBar()->maximum(), 0) << "the tree scrolls sideways";
    EXPECT_GE(tree.columnWidth(0), scrolled + row.left() + label) << "the name is not cut";
    EXPECT_GE(row.left(), 0) << "the selected name is in view";
    EXPECT_LE(row.left() + label, tree.viewport()->width());

    // So is the name the keyboard moves to, from wherever the tree was scrolled.
    tree.horizontalScrollBar()->setValue(0);
    QTest::keyClick(&tree, Qt::Key_Up);
    ASSERT_EQ(tree.currentItem(), deepest->parent());
    const QRect above = tree.visualItemRect(deepest->parent());
    EXPECT_GE(above.left(), 0);
    EXPECT_LE(above.left() + label, tree.viewport()->width());

    // Clicking right of a short name, far left of the long ones, is still on its row.
    QTreeWidgetItem* music = find(tree, root + "Music/");
    tree.horizontalScrollBar()->setValue(0);
    const QRect musicRow = tree.visualItemRect(music);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                      QPoint(tree.viewport()->width() - 3, musicRow.center().y()));
    EXPECT_EQ(stored(), root + "Music/");
    EXPECT_EQ(tree.currentItem(), music);
}

TEST_F(BrowserTest, RebuildTreeWaitsForTheFirstFillThenStartsAfresh)
{
    mkdir("One/Two");
    setStart(root + "One/");
    CDirectoryView tree;
    tree.RebuildTree();
    EXPECT_EQ(tree.topLevelItemCount(), 0);
    tree.OnInitialUpdate();
    mkdir("One/Three");
    setStart(root + "One/Two/");
    tree.RebuildTree();
    EXPECT_EQ(tree.currentItem(), find(tree, root + "One/Two/"));
    EXPECT_EQ(childTexts(find(tree, root + "One/")), (QStringList{"Three", "Two"}));
    EXPECT_TRUE(tree.isEnabled());
}

TEST_F(BrowserTest, AwkwardNamesAndFoldersNeitherCrashNorGoMissing)
{
    const std::string latin1 = "caf\xe9";
    mkdir("Music/" + latin1);
    mkdir("Music/locked/inside");
    mkdir("Music/" + std::string(200, 'x'));
    ::chmod((root + "Music/locked").c_str(), 0);
    setStart(root + "Music/");
    CDirectoryView tree;
    tree.OnInitialUpdate();
    QTreeWidgetItem* music = find(tree, root + "Music/");
    ASSERT_NE(music, nullptr);
    EXPECT_EQ(music->childCount(), 3);
    QTreeWidgetItem* cafe = find(tree, root + "Music/" + latin1 + "/");
    ASSERT_NE(cafe, nullptr) << "a name that is not UTF-8 keeps its bytes";
    QTreeWidgetItem* locked = find(tree, root + "Music/locked/");
    ASSERT_NE(locked, nullptr);
    // An unreadable directory adds nothing. (Root could read it: the tests
    // may run as root, so this runs where the permissions bind.)
    EXPECT_TRUE(testsupport::runBoundByPermissions([&] {
        tree.setCurrentItem(locked);
        return tree.currentItem() == locked && locked->childCount() == 0;
    }));
    // A directory that vanished since it was listed: selecting it lists nothing.
    std::filesystem::remove(root + "Music/" + latin1);
    tree.setCurrentItem(cafe);
    EXPECT_EQ(cafe->childCount(), 0);
}

TEST_F(BrowserTest, TheListShowsMidiFilesWithDateAndFullSize)
{
    mkdir("m/x.mid");
    touch("m/A.MID", std::string(12345, 'x'));
    touch("m/b.Rmi");
    touch("m/c.midi");
    touch("m/d.mid.bak");
    touch("m/e");
    touch("m/.hidden.mid");
    touch("m/caf\xe9.mid");
    ::mkfifo((root + "m/pipe.mid").c_str(), 0600);
    std::filesystem::create_symlink(root + "m/A.MID", root + "m/link.mid");
    std::filesystem::create_symlink(root + "m/gone", root + "m/dangling.mid");
    ASSERT_EQ(::truncate((root + "m/b.Rmi").c_str(), 3LL << 30), 0) << "a sparse 3 GiB file";
    struct timespec times[2] = {{0, 0}, {1796611707, 0}}; // 7 Dec 2026 02:48:27 UTC
    ::utimensat(AT_FDCWD, (root + "m/A.MID").c_str(), times, 0);
    setStart(root + "m/");

    // The list is made under a German locale, where "%b" of December reads
    // "Dez": made here, so that the test does not depend on the machine's.
    const QString locales = dir.filePath(QStringLiteral("locales"));
    QDir().mkpath(locales);
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                     QStringLiteral("UTF-8"), locales + QStringLiteral("/de_DE.UTF-8")});
    if (!localedef.waitForFinished(120000) || localedef.exitStatus() != QProcess::NormalExit ||
        localedef.exitCode() > 1) // 1: made, with warnings
        GTEST_SKIP() << "no German locale can be made here (localedef and the locales package): "
                     << localedef.readAllStandardError().toStdString();
    ::setenv("LOCPATH", QFile::encodeName(locales).constData(), 1);
    ASSERT_NE(std::setlocale(LC_TIME, "de_DE.UTF-8"), nullptr);
    const char* savedTz = std::getenv("TZ");
    const std::string tz = savedTz ? savedTz : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    char month[16] = {};
    std::tm december{};
    december.tm_mon = 11;
    std::strftime(month, sizeof month, "%b", &december);
    CFilesView list;
    list.OnInitialUpdate();
    std::setlocale(LC_TIME, "C");
    ::unsetenv("LOCPATH");
    if (savedTz)
        ::setenv("TZ", tz.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
    ASSERT_STREQ(month, "Dez") << "the German locale was in force";

    QStringList names = fileNames(list);
    names.sort();
    EXPECT_EQ(names, (QStringList{"A.MID", "b.Rmi", QString::fromUtf8("caf\xef\xbf\xbd.mid"),
                                  "link.mid"}));
    EXPECT_EQ(list.headerItem()->text(0), QStringLiteral("File Name"));
    EXPECT_EQ(list.headerItem()->text(1), QStringLiteral("Date"));
    EXPECT_EQ(list.headerItem()->text(2), QStringLiteral("Size"));
    EXPECT_EQ(list.GetSelectedIndex(), -1);
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list.topLevelItem(i);
        if (row->text(0) == QStringLiteral("A.MID")) {
            EXPECT_EQ(row->text(1), QStringLiteral("07 Dec 2026 02:48:27"));
            EXPECT_EQ(row->text(2), QStringLiteral("12345"));
        }
        if (row->text(0) == QStringLiteral("b.Rmi")) {
            EXPECT_EQ(row->text(2), QStringLiteral("3221225472"));
        }
    }
}

// A folder large enough for the list to look at its files on two threads:
// every file once, with its own size, and what is no file left out.
TEST_F(BrowserTest, ALargeFolderIsListedWholeWithEachFilesOwnSize)
{
    mkdir("big");
    std::map<QString, QString> expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "piece " + std::to_string(i) + (i % 2 ? ".mid" : ".RMI");
        touch("big/" + name, std::string(std::size_t(i % 97), 'x'));
        expected[QString::fromStdString(name)] = QString::number(i % 97);
        if (i % 500 == 0)
            mkdir("big/folder " + std::to_string(i) + ".mid");
    }
    setStart(root + "big/");
    CFilesView list;
    list.OnInitialUpdate();
    std::map<QString, QString> shown;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        shown[list.topLevelItem(i)->text(0)] = list.topLevelItem(i)->text(2);
    EXPECT_EQ(list.topLevelItemCount(), 3000);
    EXPECT_EQ(shown, expected);
}

TEST_F(BrowserTest, NextFileWalksTheRowsAndWrapsWithLoop)
{
    mkdir("m");
    touch("m/one.mid");
    touch("m/two.mid");
    touch("m/caf\xe9.mid");
    setStart(root + "m/");
    RecordingDoc document;
    CFilesView list;
    document.AddView(&list);
    list.OnInitialUpdate();
    ASSERT_EQ(list.topLevelItemCount(), 3);

    app.WriteProfileInt(profile::kSettings, profile::kLoop, 0);
    EXPECT_EQ(list.SelectNextFile(), 0) << "nothing selected: the first row";
    EXPECT_EQ(list.SelectNextFile(), 1);
    EXPECT_EQ(list.SelectNextFile(), 2);
    EXPECT_EQ(list.SelectNextFile(), -1) << "past the last without Loop";
    EXPECT_EQ(list.GetSelectedIndex(), -1);
    list.PlaySelectedFile();
    EXPECT_TRUE(document.opened.empty()) << "no selection, nothing opened";

    app.WriteProfileInt(profile::kSettings, profile::kLoop, 8);
    list.topLevelItem(2)->setSelected(true);
    list.PlayNextFile();
    EXPECT_EQ(list.GetSelectedIndex(), 0) << "wraps with Loop";
    ASSERT_EQ(document.opened.size(), 1u);
    EXPECT_EQ(document.opened[0],
              root + "m/" +
                  list.topLevelItem(0)->data(0, Qt::UserRole).toByteArray().toStdString());
    EXPECT_EQ(document.GetPathName(), document.opened[0]);

    // Every row opens by its exact bytes, also one whose name is not UTF-8.
    for (int i = 0; i < 3; ++i)
        list.PlayNextFile();
    std::vector<std::string> sorted = document.opened;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_NE(std::find(sorted.begin(), sorted.end(), root + "m/caf\xe9.mid"), sorted.end());
}

TEST_F(BrowserTest, ADoubleClickPlaysTheSelectedRow)
{
    mkdir("m");
    touch("m/one.mid");
    setStart(root + "m/");
    RecordingDoc document;
    CFilesView list;
    document.AddView(&list);
    list.resize(500, 300);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    list.OnInitialUpdate();
    const QRect row = list.visualItemRect(list.topLevelItem(0));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_EQ(document.opened.size(), 1u);
    EXPECT_EQ(document.opened[0], root + "m/one.mid");
    // Enter opens nothing.
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_EQ(document.opened.size(), 1u);
}

TEST(FileNames, MidiFilesAreKnownByTheirExtensionInAnyCase)
{
    for (const char* yes : {"A.MID", "b.Mid", "c.rmi", ".mid", "x.y.mid"})
        EXPECT_TRUE(CFilesView::IsMidiFile(yes)) << yes;
    for (const char* no : {"d.midi", "e.mid.bak", "f", "mid", "g.mi", "h.\xc3\xa9mid"})
        EXPECT_FALSE(CFilesView::IsMidiFile(no)) << no;
    EXPECT_TRUE(CFilesView::HasExtension("a.TXT", ".txt"));
    EXPECT_TRUE(CFilesView::HasExtension("noext", ""));
}

TEST(Drives, TheRootFirstThenRealVolumesWithTheirKinds)
{
    const std::string table = "proc /proc proc rw 0 0\n"
                              "/dev/sda1 / ext4 rw 0 0\n"
                              "tmpfs /run tmpfs rw 0 0\n"
                              "/dev/sda2 /home ext4 rw 0 0\n"
                              "server:/export /mnt/nfs nfs4 rw 0 0\n"
                              "/dev/sr0 /media/cdrom iso9660 ro 0 0\n"
                              "//host/share /mnt/smb cifs rw 0 0\n"
                              "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
                              "overlay /var/lib/docker/x overlay rw 0 0\n"
                              "/dev/sdb1 /media/My\\040Stick vfat rw 0 0\n";
    const std::vector<DriveRoot> drives = GetLogicalDrives(table);
    std::vector<std::string> roots;
    for (const DriveRoot& d : drives)
        roots.push_back(d.root);
    EXPECT_EQ(roots, (std::vector<std::string>{"/", "/home/", "/mnt/nfs/", "/media/cdrom/",
                                               "/mnt/smb/", "/media/My Stick/"}));
    EXPECT_EQ(drives[2].type, DRIVE_REMOTE);
    EXPECT_EQ(drives[3].type, DRIVE_CDROM);
    EXPECT_EQ(drives[4].type, DRIVE_REMOTE);
    EXPECT_EQ(DriveTypeOf("tmpfs", "tmpfs"), DRIVE_RAMDISK);
    EXPECT_EQ(DriveTypeOf("ext4", "/dev/nonexistent"), DRIVE_FIXED);
}

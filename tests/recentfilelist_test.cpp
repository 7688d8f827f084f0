#include "profile.h"
#include "recentfilelist.h"
#include "testsupport.h"

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using framework::Profile;
using framework::RecentFileList;

namespace {

RecentFileList makeList()
{
    RecentFileList list("Recent File List", "File%d", 16, 30);
    list.setFirstCommandId(57616);
    return list;
}

std::vector<std::string> entries(const RecentFileList& list)
{
    std::vector<std::string> names;
    for (int i = 0; i < list.GetSize(); ++i) {
        if (!list[i].empty())
            names.push_back(list[i]);
    }
    return names;
}

} // namespace

TEST(RecentFileList, MostRecentFirstAndAReopenedPathMovesToTheTop)
{
    RecentFileList list = makeList();
    list.Add("/m/a.mid");
    list.Add("/m/b.mid");
    list.Add("/m/c.mid");
    EXPECT_EQ(entries(list), (std::vector<std::string>{"/m/c.mid", "/m/b.mid", "/m/a.mid"}));

    list.Add("/m/a.mid");
    EXPECT_EQ(entries(list), (std::vector<std::string>{"/m/a.mid", "/m/c.mid", "/m/b.mid"}));

    // Paths compare exactly: another letter case is another file.
    list.Add("/m/A.mid");
    EXPECT_EQ(entries(list).size(), 4u);
    EXPECT_EQ(list[0], "/m/A.mid");
}

TEST(RecentFileList, KeepsSixteenAndTheOldestDropsOff)
{
    RecentFileList list = makeList();
    for (int i = 1; i <= 17; ++i)
        list.Add("/m/" + std::to_string(i) + ".mid");
    ASSERT_EQ(list.count(), 16);
    EXPECT_EQ(list[0], "/m/17.mid");
    EXPECT_EQ(list[15], "/m/2.mid");

    // Moving the last one up keeps all sixteen.
    list.Add("/m/2.mid");
    EXPECT_EQ(list.count(), 16);
    EXPECT_EQ(list[0], "/m/2.mid");
    EXPECT_EQ(list[15], "/m/3.mid");
}

TEST(RecentFileList, RoundTripsThroughTheProfileAndRewritesTheWholeSection)
{
    QTemporaryDir dir;
    const Profile profile(dir.path() + QStringLiteral("/p.ini"));
    ASSERT_TRUE(profile.writeString("Recent File List", "File9", "/stale.mid"));
    ASSERT_TRUE(profile.writeInt("Settings", "Loop", 0));

    RecentFileList list = makeList();
    list.Add("/m/one.mid");
    list.Add("/m/caf\xe9.mid"); // not UTF-8
    list.WriteList(profile);

    EXPECT_EQ(profile.getString("Recent File List", "File1"), "/m/caf\xe9.mid");
    EXPECT_EQ(profile.getString("Recent File List", "File2"), "/m/one.mid");
    EXPECT_FALSE(profile.getString("Recent File List", "File9").has_value());
    EXPECT_EQ(profile.getInt("Settings", "Loop", 8), 0) << "other sections stay";

    RecentFileList read = makeList();
    read.ReadList(profile);
    EXPECT_EQ(entries(read), entries(list));
}

TEST(RecentFileList, MenuTextsKeepTheFileNameWithinThirtyCharacters)
{
    EXPECT_EQ(RecentFileList::abbreviate(QStringLiteral("/home/ann/x.mid"), 30),
              QStringLiteral("/home/ann/x.mid"));
    EXPECT_EQ(RecentFileList::abbreviate(QStringLiteral("/home/ann/Music/Midi/Bach/fugue.mid"), 30),
              QStringLiteral("/home/.../Midi/Bach/fugue.mid"));
    EXPECT_EQ(
        RecentFileList::abbreviate(QStringLiteral("/home/ann/Music/Midi/Bach/Passacaglia.mid"), 30),
        QStringLiteral("/home/.../Bach/Passacaglia.mid"));
    EXPECT_EQ(RecentFileList::abbreviate(
                  QStringLiteral("/verylongtopfolder/Music/Johann Sebastian Bach.mid"), 30),
              QStringLiteral(".../Johann Sebastian Bach.mid"));
    EXPECT_EQ(RecentFileList::abbreviate(
                  QStringLiteral("/m/A name far too long to fit in thirty.mid"), 30),
              QStringLiteral("A name far to... in thirty.mid"));
    for (const char* path : {"/a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q.mid", "relative/dir/some/file.mid",
                             "/\xc3\xa9\xc3\xa9\xc3\xa9/\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
                             "/\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9/x.mid"}) {
        const QString shown = RecentFileList::abbreviate(QString::fromUtf8(path), 30);
        EXPECT_LE(shown.size(), 30) << path;
        EXPECT_TRUE(shown.endsWith(QString::fromUtf8(path).section(QLatin1Char('/'), -1))) << path;
    }
}

TEST(RecentFileList, MenuShowsEntriesInPlaceOfTheGreyedPlaceholder)
{
    QMenu menu;
    QAction* before = menu.addAction(QStringLiteral("Stop"));
    QAction* placeholder = menu.addAction(QStringLiteral("Recent File"));
    placeholder->setEnabled(false);
    QAction* after = menu.addAction(QStringLiteral("Exit"));
    std::vector<int> ids;
    auto make = [&](int id, const QString& text) {
        ids.push_back(id);
        return new QAction(text, &menu);
    };

    RecentFileList list = makeList();
    list.UpdateMenu(&menu, placeholder, make);
    EXPECT_TRUE(placeholder->isVisible());
    EXPECT_FALSE(placeholder->isEnabled());
    EXPECT_EQ(menu.actions().size(), 3);

    list.Add("/m/Rock & Roll.mid");
    list.Add("/m/b.mid");
    list.UpdateMenu(&menu, placeholder, make);
    list.UpdateMenu(&menu, placeholder, make); // opening the menu again adds nothing twice
    const auto actions = menu.actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0], before);
    EXPECT_EQ(actions[1]->text(), QStringLiteral("&1 /m/b.mid"));
    EXPECT_EQ(actions[2]->text(), QStringLiteral("&2 /m/Rock && Roll.mid"));
    EXPECT_EQ(actions[3], placeholder);
    EXPECT_FALSE(placeholder->isVisible());
    EXPECT_EQ(actions[4], after);
    EXPECT_EQ(ids.back(), 57617);
}

#include "images.h"
#include "menus.h"
#include "resource.h"
#include "stringtable.h"

#include <QImage>
#include <gtest/gtest.h>

#include <set>

namespace {

// "&File: &New\tCtrl+N(57600) | - | ..." for comparing whole menus at once.
std::string describe(const res::MenuPopup& popup)
{
    std::string text = popup.text ? popup.text : "<group>";
    text += ":";
    for (const res::MenuItem& item : popup.items) {
        if (!item.text)
            text += " -";
        else
            text += std::string(" ") + item.text + "(" + std::to_string(item.id) +
                    (item.grayed ? ",grayed" : "") + ")";
    }
    return text;
}

} // namespace

TEST(Resources, StringsAreVerbatim)
{
    EXPECT_EQ(res::loadString(IDP_OLE_INIT_FAILED),
              QStringLiteral("OLE initialization failed.  Make sure that the OLE libraries are "
                             "the correct version."));
    EXPECT_EQ(res::loadString(AFX_IDS_APP_TITLE), QStringLiteral("Brisolde"));
    EXPECT_EQ(res::loadString(AFX_IDS_IDLEMESSAGE), QStringLiteral("Ready"));
    EXPECT_EQ(res::loadString(AFX_IDS_APP_TITLE_EMBEDDING), QStringLiteral("%1 in %2"));
    EXPECT_EQ(res::loadString(AFX_IDS_OBJ_TITLE_INPLACE), QStringLiteral("%1 - %2"));
    EXPECT_EQ(res::loadString(ID_OPTIONS_AUTOPLAY),
              QStringLiteral("Start Playing file after opening"));
    EXPECT_EQ(res::loadString(ID_PLAY_MIDI), QStringLiteral("Play Midi"));
    EXPECT_EQ(res::loadString(ID_PAUSE_PLAYING), QStringLiteral("Pause Playing"));
    EXPECT_EQ(res::loadString(ID_STOP_PLAYING), QStringLiteral("Stop Playing"));
    EXPECT_EQ(res::loadString(ID_VIEW_DEVICE_COMBO),
              QStringLiteral("View or Hide Device Combo Box"));
    EXPECT_EQ(res::loadString(ID_OPTIONS_LOOP), QStringLiteral("Loop When Playing File"));
    EXPECT_EQ(res::loadString(ID_OPTIONS_PLAY_DIRECTORY),
              QStringLiteral("Play Directory viewed in the Right Pane"));
    EXPECT_EQ(res::loadString(ID_PLAY_NEXT_FILE), QStringLiteral("Play Next File"));
    EXPECT_EQ(res::loadString(32783), QStringLiteral("Play Next File"));
    EXPECT_EQ(res::loadString(ID_OPTIONS_GM_RESET),
              QStringLiteral("Send a GM Reset before Playing"));
    EXPECT_EQ(res::loadString(AFX_IDP_FAILED_TO_CREATE_DOC),
              QStringLiteral("Failed to create empty document."));
    EXPECT_EQ(res::loadString(AFX_IDS_ALLFILTER), QStringLiteral("All Files (*.*)"));
    EXPECT_EQ(res::loadString(ID_OPTIONS_REVERB), QString()) << "Reverb has no prompt";
    const QString credit = res::loadString(ID_INDICATOR_POSITION);
    EXPECT_FALSE(credit.isEmpty());
    EXPECT_FALSE(credit.contains(QLatin1Char('\n'))) << "the credit text is one line";
    EXPECT_EQ(QString::fromUtf8(res::kCreateAndAddPortFailed),
              QStringLiteral("CreateAndAddPort failed!"));

    const QString docTemplate = res::loadString(IDR_MAINFRAME);
    EXPECT_EQ(docTemplate, QStringLiteral("Brisolde\n\nQorvel\nBrisolde Files (*.mid)\n.mid\n"
                                          "Brisolde.Document\nQorvel Document"));
    EXPECT_EQ(res::docTemplateField(docTemplate, res::DocField::DocName), QString());
    EXPECT_EQ(res::docTemplateField(docTemplate, res::DocField::FilterExt), QStringLiteral(".mid"));
    EXPECT_EQ(res::docTemplateField(docTemplate, res::DocField::RegFileTypeName),
              QStringLiteral("Qorvel Document"));
}

TEST(Resources, MenusHoldEveryItemInOrder)
{
    const auto main = res::menuResource(IDR_MAINFRAME);
    ASSERT_EQ(main.size(), 5u);
    EXPECT_EQ(describe(main[0]),
              "&File: &New\tCtrl+N(57600) &Open...\tCtrl+O(57601) &Save\tCtrl+S(57603) Save "
              "&As...(57604) - &Print...\tCtrl+P(57607) Print Pre&view(57609) P&rint "
              "Setup...(57606) - Play(32771) Play Next File(32782) Pause(32772) Stop(32773) - "
              "Recent File(57616,grayed) - E&xit(57665)");
    EXPECT_EQ(describe(main[1]), "&Edit: &Undo\tCtrl+Z(57643) - Cu&t\tCtrl+X(57635) "
                                 "&Copy\tCtrl+C(57634) &Paste\tCtrl+V(57637)");
    EXPECT_EQ(describe(main[2]), "&Options: &Reverb On(109) - &Autoplay files(108) - &Loop(32780) "
                                 "Play &Directory(32781) - Send a GM Reset(32784)");
    EXPECT_EQ(describe(main[3]),
              "&View: &Toolbar(59392) Device Combo Box(32779) &Status Bar(59393)");
    EXPECT_EQ(describe(main[4]), "&Help: &About Brisolde...(57664)");

    const auto inPlace = res::menuResource(IDR_SRVR_INPLACE);
    ASSERT_EQ(inPlace.size(), 5u);
    EXPECT_EQ(describe(inPlace[1]), "&View: &Toolbar(59392)");
    EXPECT_EQ(describe(inPlace[2]), "<group>:");
    EXPECT_EQ(describe(inPlace[3]), "<group>:");
    EXPECT_EQ(describe(inPlace[4]), "&Help: &About Brisolde...(57664)");

    const auto embedded = res::menuResource(IDR_SRVR_EMBEDDED);
    ASSERT_EQ(embedded.size(), 4u);
    EXPECT_EQ(describe(embedded[0]),
              "&File: &Update\tCtrl+S(57610) Save Copy &As...(57611) - &Print...\tCtrl+P(57607) "
              "Print Pre&view(57609) P&rint Setup...(57606) - E&xit(57665)");
    EXPECT_EQ(describe(embedded[2]), "&View: &Toolbar(59392) &Status Bar(59393)");
}

TEST(Resources, ToolbarsAcceleratorsAndTheUnusedPromptId)
{
    const std::vector<int> mainButtons(res::toolbarButtons(IDR_MAINFRAME).begin(),
                                       res::toolbarButtons(IDR_MAINFRAME).end());
    EXPECT_EQ(mainButtons, (std::vector<int>{57600, 57601, 57603, 0, 57635, 57634, 57637, 0, 57607,
                                             0, 57664, 0, 32771, 32772, 32773, 32782}));
    const std::vector<int> inPlaceButtons(res::toolbarButtons(IDR_SRVR_INPLACE).begin(),
                                          res::toolbarButtons(IDR_SRVR_INPLACE).end());
    EXPECT_EQ(inPlaceButtons,
              (std::vector<int>{57635, 57634, 57637, 0, 57664, 0, 32771, 32772, 32773, 32782}));

    // Escape is bound only while in place, to command 32769.
    for (int table : {IDR_MAINFRAME, IDR_SRVR_INPLACE, IDR_SRVR_EMBEDDED}) {
        for (const res::Accelerator& accel : res::acceleratorTable(table)) {
            if (accel.key == QKeyCombination(Qt::Key_Escape)) {
                EXPECT_TRUE(table == IDR_SRVR_INPLACE && accel.id == ID_CANCEL_EDIT_SRVR);
            }
            EXPECT_NE(accel.id, 32783);
        }
    }
    EXPECT_EQ(res::acceleratorTable(IDR_MAINFRAME).size(), 14u);
    EXPECT_EQ(res::acceleratorTable(IDR_SRVR_INPLACE).size(), 9u);
    EXPECT_EQ(res::acceleratorTable(IDR_SRVR_EMBEDDED).size(), 12u);

    std::set<int> used(mainButtons.begin(), mainButtons.end());
    used.insert(inPlaceButtons.begin(), inPlaceButtons.end());
    for (int menu : {IDR_MAINFRAME, IDR_SRVR_INPLACE, IDR_SRVR_EMBEDDED}) {
        for (const res::MenuPopup& popup : res::menuResource(menu)) {
            for (const res::MenuItem& item : popup.items)
                used.insert(item.id);
        }
    }
    EXPECT_FALSE(used.contains(32783));
}

TEST(Resources, PicturesHaveTheirSizesAndOneImagePerButton)
{
    const QImage strip = res::loadBitmap(IDB_ITEM_IMAGES).toImage();
    ASSERT_EQ(strip.size(), QSize(224, 16));
    for (int x = 0; x < strip.width(); ++x) {
        for (int y = 0; y < strip.height(); ++y)
            ASSERT_EQ(qAlpha(strip.pixel(x, y)), 255) << "the strip is drawn without a mask";
    }
    for (int x = 10 * 16; x < 14 * 16; ++x)
        EXPECT_EQ(strip.pixel(x, 8) & 0xFFFFFF, 0xFFFFFFu) << "images 10 to 13 are empty";
    EXPECT_EQ(res::splitStrip(res::loadBitmap(IDB_ITEM_IMAGES), 16).size(), 14);

    for (int toolbar : {IDR_MAINFRAME, IDR_SRVR_INPLACE}) {
        int buttons = 0;
        for (int id : res::toolbarButtons(toolbar))
            buttons += id != ID_SEPARATOR;
        const QPixmap bitmap = res::loadBitmap(toolbar);
        EXPECT_EQ(bitmap.size(), QSize(16 * buttons, 15)) << toolbar;
    }

    EXPECT_EQ(res::loadBitmap(IDB_ABOUT_PICTURE).size(), QSize(64, 64));
    const QIcon icon = res::loadIcon(IDR_MAINFRAME);
    for (int size : {16, 32, 48, 64, 256})
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    EXPECT_FALSE(res::loadIcon(IDR_QORVELTYPE).isNull());
}

// What the framework loads: the same resources, through the module the
// application object registers.
TEST(Resources, TheModuleHandsTheFrameworkTheProgramsResources)
{
    const framework::ResourceModule& module = res::module();
    EXPECT_EQ(module.loadString(AFX_IDS_APP_TITLE), QStringLiteral("Brisolde"));
    EXPECT_EQ(module.menu(IDR_MAINFRAME).data(), res::menuResource(IDR_MAINFRAME).data());
    EXPECT_EQ(module.acceleratorTable(IDR_SRVR_INPLACE).size(),
              res::acceleratorTable(IDR_SRVR_INPLACE).size());
    const framework::ToolBarResource toolBar = module.toolBar(IDR_MAINFRAME);
    EXPECT_EQ(toolBar.buttons.data(), res::toolbarButtons(IDR_MAINFRAME).data());
    EXPECT_EQ(toolBar.imageSize, QSize(res::kToolbarImageWidth, res::kToolbarImageHeight));
    EXPECT_EQ(module.loadBitmap(IDR_MAINFRAME).size(), res::loadBitmap(IDR_MAINFRAME).size());
    EXPECT_FALSE(module.loadIcon(IDR_MAINFRAME).isNull());
    EXPECT_TRUE(module.menu(12345).empty());
    EXPECT_TRUE(module.toolBar(IDR_SRVR_EMBEDDED).buttons.empty());
}

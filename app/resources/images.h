// The program's pictures: icons and bitmaps by resource id.
#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

namespace res {

// Root of the program's images in Qt's resource system. It is the module
// instance handle handed to the About library, which finds the icon as
// "<root>/icons/<id>-<size>.png" and bitmaps as "<root>/bitmaps/<id>.png".
const char* resourceRoot();

// Icon resource `id` (IDR_MAINFRAME, IDR_QORVELTYPE) with every size drawn; null when absent.
QIcon loadIcon(int id);

// Bitmap resource `id` (IDB_ITEM_IMAGES, IDB_ABOUT_PICTURE, toolbar strips by their
// toolbar's id); a null pixmap when absent.
QPixmap loadBitmap(int id);

// Cuts a horizontal strip into images of `width` pixels, left to right.
QList<QPixmap> splitStrip(const QPixmap& strip, int width);

// Indexes into the image strip IDB_ITEM_IMAGES.
enum ItemImage
{
    kImageClosedFolder = 0,
    kImageOpenFolder = 1,
    kImageNote = 2,
    kImageRemovableDrive = 3,
    kImageFixedDrive = 4,
    kImageFixedDriveSelected = 5,
    kImageCdRomDrive = 6,
    kImageNetworkDrive = 7,
    kImageTwoNotes = 8,
    kImageNoteOnStaff = 9,
};
inline constexpr int kItemImageCount = 14;
inline constexpr int kItemImageSize = 16;

} // namespace res

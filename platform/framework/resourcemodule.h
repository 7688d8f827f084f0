// A program's resources as the framework loads them, by id: texts, menus,
// accelerator tables, toolbars, icons and bitmaps. The program hands its
// own to the application object, which registers them (the role a module's
// instance handle plays); the framework itself knows no resource of the
// program, only its own identifiers (afxres.h).
#pragma once

#include <QIcon>
#include <QKeyCombination>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <span>

namespace framework {

// One item of a drop-down menu. A separator has no text and id 0.
struct MenuItem
{
    const char* text;
    int id;
    bool grayed = false;
};

// One entry of a menu bar. A group separator (where a container's menus go
// while the document is active in place) has no text and no items.
struct MenuPopup
{
    const char* text;
    std::span<const MenuItem> items;
};

struct Accelerator
{
    QKeyCombination key;
    int id;
};

// A toolbar: its buttons (ID_SEPARATOR marks a separator) and the size of
// one button image. The bitmap of the same id holds one image per button
// that is not a separator, left to right.
struct ToolBarResource
{
    std::span<const int> buttons;
    QSize imageSize;
};

// Each lookup answers empty (an empty text, no menu, a null picture) for an
// id the module does not have; the base class has none at all.
class ResourceModule
{
public:
    virtual ~ResourceModule();

    virtual QString loadString(int id) const;
    virtual std::span<const MenuPopup> menu(int id) const;
    virtual std::span<const Accelerator> acceleratorTable(int id) const;
    virtual ToolBarResource toolBar(int id) const;
    // Every size the icon is drawn in.
    virtual QIcon loadIcon(int id) const;
    virtual QPixmap loadBitmap(int id) const;
};

// The resources the framework loads from: the ones registered last, or
// none before a program registers its own.
const ResourceModule& AfxGetResourceHandle();
// Registers `module` (null: none); it must live as long as it is registered.
void AfxSetResourceHandle(const ResourceModule* module);

} // namespace framework

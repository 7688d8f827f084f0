// The menus, toolbars, accelerator tables and device bar template as data;
// the main window and the in-place frame build their widgets from them.
#pragma once

#include <QKeyCombination>
#include <span>

namespace res {

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

// Menu resource IDR_MAINFRAME, IDR_SRVR_INPLACE or IDR_SRVR_EMBEDDED; empty for other ids.
std::span<const MenuPopup> menuResource(int id);

// Toolbar buttons of IDR_MAINFRAME or IDR_SRVR_INPLACE; ID_SEPARATOR marks a separator.
// The toolbar's bitmap holds one image per button that is not a separator, in order.
std::span<const int> toolbarButtons(int id);

// Size of one toolbar button image in pixels.
inline constexpr int kToolbarImageWidth = 16;
inline constexpr int kToolbarImageHeight = 15;

struct Accelerator
{
    QKeyCombination key;
    int id;
};

// Accelerator table IDR_MAINFRAME, IDR_SRVR_INPLACE or IDR_SRVR_EMBEDDED.
std::span<const Accelerator> acceleratorTable(int id);

// The device bar: a child dialog that holds one drop-down list, in dialog units.
struct DeviceBarTemplate
{
    int width = 330;
    int height = 16;
    const char* fontName = "MS Sans Serif";
    int fontPointSize = 8;
    int comboId = 1000;
    int comboX = 4;
    int comboY = 2;
    int comboWidth = 161;
    int comboDropHeight = 52;
};
inline constexpr DeviceBarTemplate kDeviceBar{};

// Dialog template IDR_MAINFRAME (the main window's device bar) or
// IDR_QORVELTYPE_SRVR_IP (its copy for the in-place frame); null for other ids.
const DeviceBarTemplate* deviceBarTemplate(int id);

} // namespace res

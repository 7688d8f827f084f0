#include "foreignwindow.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QToolButton>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <xcb/xcb.h>

namespace embedding::internal {

bool foreignWindowsSupported()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

QWindow* adoptForeignWindow(quintptr id)
{
    if (!foreignWindowsSupported() || id == 0)
        return nullptr;
    // Qt takes any number as a window; ask the X server whether it is one.
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return nullptr;
    xcb_connection_t* connection = x11->connection();
    xcb_generic_error_t* error = nullptr;
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(
        connection, xcb_get_geometry(connection, xcb_drawable_t(id)), &error);
    std::free(error);
    if (!geometry)
        return nullptr;
    std::free(geometry);
    return QWindow::fromWinId(WId(id));
}

void placeInForeignWindow(QWidget* widget, QWindow* parent)
{
    widget->setAttribute(Qt::WA_NativeWindow);
    widget->winId();
    widget->windowHandle()->setParent(parent);
}

void requestEmbedderFocus(QWindow* embedded)
{
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    QWindow* embedder = embedded ? embedded->parent() : nullptr;
    if (!x11 || !embedder)
        return;
    xcb_connection_t* connection = x11->connection();
    static constexpr char kName[] = "_XEMBED";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName), nullptr);
    if (!atom)
        return;
    constexpr uint32_t XEMBED_REQUEST_FOCUS = 3;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(embedder->winId());
    event.type = atom->atom;
    event.data.data32[0] = XCB_CURRENT_TIME;
    event.data.data32[1] = XEMBED_REQUEST_FOCUS;
    std::free(atom);
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

void nameControlWindows(QWidget* host)
{
    auto name = [](QWidget* control, const QString& title) {
        control->winId();
        if (QWindow* window = control->windowHandle())
            window->setTitle(title);
    };
    for (QToolButton* button : host->findChildren<QToolButton*>()) {
        const QAction* action = button->defaultAction();
        if (action && !action->isSeparator())
            name(button, action->toolTip());
    }
    for (QComboBox* combo : host->findChildren<QComboBox*>())
        name(combo, combo->objectName());
}

} // namespace embedding::internal

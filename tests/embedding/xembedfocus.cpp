#include "xembedfocus.h"

#include <QGuiApplication>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

constexpr uint32_t XEMBED_WINDOW_ACTIVATE = 1;
constexpr uint32_t XEMBED_REQUEST_FOCUS = 3;
constexpr uint32_t XEMBED_FOCUS_IN = 4;
constexpr uint32_t XEMBED_FOCUS_CURRENT = 0;

} // namespace

XEmbedFocus::XEmbedFocus()
{
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    m_connection = x11->connection();
    static constexpr char kName[] = "_XEMBED";
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, sizeof kName - 1, kName), nullptr);
    if (reply) {
        m_xembed = reply->atom;
        std::free(reply);
    }
}

void XEmbedFocus::send(uint32_t window, uint32_t message, uint32_t detail, uint32_t time)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = m_xembed;
    event.data.data32[0] = time;
    event.data.data32[1] = message;
    event.data.data32[2] = detail;
    xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
}

bool XEmbedFocus::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_connection || !m_xembed || eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    auto* request = reinterpret_cast<xcb_client_message_event_t*>(event);
    if (request->type != m_xembed || request->format != 32 ||
        request->data.data32[1] != XEMBED_REQUEST_FOCUS)
        return false;
    // The request comes to the embedder's window (our site or frame strip);
    // the client is the window the server put in it.
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, request->window), nullptr);
    if (!tree)
        return false;
    const int count = xcb_query_tree_children_length(tree);
    const uint32_t client = count > 0 ? xcb_query_tree_children(tree)[count - 1] : 0;
    std::free(tree);
    if (!client)
        return false;
    const uint32_t time = request->data.data32[0];
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_PARENT, client, time);
    send(client, XEMBED_WINDOW_ACTIVATE, 0, time);
    send(client, XEMBED_FOCUS_IN, XEMBED_FOCUS_CURRENT, time);
    xcb_flush(m_connection);
    ++m_requests;
    return true;
}

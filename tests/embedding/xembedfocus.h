// The embedder's half of XEmbed focus, which Qt lacks: a Qt window whose
// parent is another program's window behaves as an XEmbed client and asks
// its embedder for the keyboard (XEMBED_REQUEST_FOCUS) instead of taking it.
// This filter answers: it gives the client the X input focus and tells it
// so (XEMBED_WINDOW_ACTIVATE, XEMBED_FOCUS_IN).
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>

struct xcb_connection_t;

class XEmbedFocus : public QAbstractNativeEventFilter
{
public:
    XEmbedFocus();
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    int requests() const { return m_requests; }

private:
    void send(uint32_t window, uint32_t message, uint32_t detail, uint32_t time);

    xcb_connection_t* m_connection = nullptr;
    uint32_t m_xembed = 0;
    int m_requests = 0;
};

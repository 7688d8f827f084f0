#include "serveritem.h"

#include "serverdoc.h"

#include <QIODevice>

namespace embedding {

Archive::Archive(QByteArray* data, Mode mode)
    : m_mode(mode), m_stream(data, mode == store ? QIODevice::WriteOnly : QIODevice::ReadOnly)
{
}

ServerItem::ServerItem(ServerDoc* document, bool autoDelete)
    : m_bAutoDelete(autoDelete), m_pDocument(document)
{
}

ServerItem::~ServerItem() = default;

bool ServerItem::IsLinkedItem() const
{
    return !m_pDocument || m_pDocument->embeddedItemIfAny() != this;
}

void ServerItem::Serialize(Archive&) {}

bool ServerItem::OnGetExtent(int, QSize&)
{
    return false;
}

} // namespace embedding

#include "objectadaptor.h"

#include "dbusmenuexporter.h"
#include "ipframewnd.h"
#include "protocol.h"
#include "serveritem.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QImage>
#include <QPainter>

namespace embedding::internal {

ObjectAdaptor::ObjectAdaptor(ServerDoc* document, QObject* parent)
    : QObject(parent), m_document(document)
{
}

ObjectAdaptor::~ObjectAdaptor()
{
    unpublishMenu();
}

int ObjectAdaptor::GetExtent(int aspect, int& cy)
{
    QSize size;
    ServerItem* item = m_document->GetEmbeddedItem();
    if (!item || !item->OnGetExtent(aspect, size)) {
        sendErrorReply(QLatin1String(kErrorNoExtent),
                       QStringLiteral("the object has no extent for aspect %1").arg(aspect));
        return 0;
    }
    cy = size.height();
    return size.width();
}

QByteArray ObjectAdaptor::Draw(int aspect, int width, int height)
{
    ServerItem* item = m_document->GetEmbeddedItem();
    QSize extent;
    if (!item || width <= 0 || height <= 0 || width > 8192 || height > 8192 ||
        !item->OnGetExtent(aspect, extent)) {
        sendErrorReply(QLatin1String(kErrorNoExtent),
                       QStringLiteral("the object cannot be drawn for aspect %1 at %2x%3")
                           .arg(aspect)
                           .arg(width)
                           .arg(height));
        return {};
    }
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        item->OnDraw(&painter, extent);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

QByteArray ObjectAdaptor::Save()
{
    return m_document->saveObject();
}

void ObjectAdaptor::Load(const QByteArray& data)
{
    m_document->loadObject(data);
}

void ObjectAdaptor::SetHostNames(const QString& containerApplication,
                                 const QString& containerDocument)
{
    m_document->SetHostNames(containerApplication, containerDocument);
}

int ObjectAdaptor::InPlaceActivate(qulonglong site, qulonglong frameStrip, int siteWidth,
                                   int siteHeight, int frameStripWidth)
{
    const InPlaceResult result = m_document->activateInPlace(
        quintptr(site), quintptr(frameStrip), QSize(siteWidth, siteHeight), frameStripWidth);
    if (!result.ok) {
        sendErrorReply(QLatin1String(result.error), result.message);
        return 0;
    }
    IPFrameWnd* frame = m_document->inPlaceFrame();
    if (frame && !m_menu && frame->inPlaceMenu()) {
        m_menu = new DBusMenuExporter(
            frame->inPlaceMenu(), [frame](QMenu* menu) { frame->updateMenuCommands(menu); }, this);
        QDBusConnection::sessionBus().registerObject(QLatin1String(kMenuPath), m_menu,
                                                     QDBusConnection::ExportScriptableContents |
                                                         QDBusConnection::ExportAllProperties);
    }
    return result.borderHeight;
}

void ObjectAdaptor::SetObjectRects(int siteWidth, int siteHeight, int frameStripWidth)
{
    m_document->setObjectRects(QSize(siteWidth, siteHeight), frameStripWidth);
}

void ObjectAdaptor::InPlaceDeactivate()
{
    m_document->deactivateInPlace();
}

void ObjectAdaptor::Open()
{
    m_document->OnShowDocument(true);
}

void ObjectAdaptor::Close()
{
    emit released();
}

void ObjectAdaptor::unpublishMenu()
{
    if (!m_menu)
        return;
    QDBusConnection::sessionBus().unregisterObject(QLatin1String(kMenuPath));
    m_menu->deleteLater();
    m_menu = nullptr;
}

void ObjectAdaptor::OnUpdate(const QByteArray& data)
{
    emit Updated(data);
}

void ObjectAdaptor::OnShowWindow(bool shown)
{
    emit ShowWindow(shown);
}

void ObjectAdaptor::OnDeactivate()
{
    unpublishMenu();
    emit Deactivated();
}

void ObjectAdaptor::SetStatusText(const QString& text)
{
    emit StatusText(text);
}

void ObjectAdaptor::OnPosRectChange(const QSize& size)
{
    emit PosRectChange(size.width(), size.height());
}

void ObjectAdaptor::OnBorderSpaceChange(int height)
{
    emit BorderSpace(height);
}

} // namespace embedding::internal

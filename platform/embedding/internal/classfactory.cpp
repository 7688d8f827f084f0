#include "classfactory.h"

#include "objectadaptor.h"
#include "protocol.h"
#include "serverdoc.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>

namespace embedding::internal {

ClassFactory::ClassFactory(ServerDocTemplate* docTemplate, const QString& classId,
                           bool multipleInstances)
    : m_pDocTemplate(docTemplate), m_classId(classId), m_multipleInstances(multipleInstances)
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleTimeout);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (!m_object)
            QCoreApplication::exit(0);
    });
}

ClassFactory::~ClassFactory() = default;

QString ClassFactory::TypeName() const
{
    return m_pDocTemplate
               ? m_pDocTemplate->GetDocString(framework::SingleDocTemplate::regFileTypeName)
               : QString();
}

QString ClassFactory::ProgID() const
{
    return m_pDocTemplate
               ? m_pDocTemplate->GetDocString(framework::SingleDocTemplate::regFileTypeId)
               : QString();
}

bool ClassFactory::registerAll(QString* error)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *error = QStringLiteral("no session bus: %1").arg(bus.lastError().message());
        return false;
    }
    if (!bus.registerObject(QLatin1String(kFactoryPath), this,
                            QDBusConnection::ExportScriptableSlots |
                                QDBusConnection::ExportAllProperties)) {
        *error = QStringLiteral("cannot export the class factory at %1")
                     .arg(QLatin1String(kFactoryPath));
        return false;
    }
    // The bus queues nobody: a name that another process holds is refused.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(QLatin1String(kServiceName),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(QLatin1String(kFactoryPath));
        *error = reply.isValid() ? QStringLiteral("the bus name %1 is taken by another process")
                                       .arg(QLatin1String(kServiceName))
                                 : QStringLiteral("cannot claim the bus name %1: %2")
                                       .arg(QLatin1String(kServiceName), reply.error().message());
        return false;
    }
    // Nothing shows the server's windows but its container.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_idle.start();
    return true;
}

QDBusObjectPath ClassFactory::CreateObject()
{
    if (m_object) {
        // A request that the bus routed here before the name was given back.
        sendErrorReply(QLatin1String(kErrorObjectTaken),
                       QStringLiteral("this server already serves an object; ask the bus again "
                                      "for a server of its own"));
        return {};
    }
    framework::Document* created =
        m_pDocTemplate ? m_pDocTemplate->OpenDocumentFile(std::nullopt, false) : nullptr;
    auto* document = dynamic_cast<ServerDoc*>(created);
    if (!document || !document->GetEmbeddedItem()) {
        sendErrorReply(QLatin1String(kErrorCreateFailed),
                       QStringLiteral("the document could not be made"));
        return {};
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_object = new ObjectAdaptor(document, this);
    document->setClientSite(m_object);
    bus.registerObject(QLatin1String(kObjectPath), m_object,
                       QDBusConnection::ExportScriptableSlots |
                           QDBusConnection::ExportScriptableSignals);
    connect(m_object, &ObjectAdaptor::released, this, &ClassFactory::releaseObject);
    m_idle.stop();
    if (m_multipleInstances)
        bus.unregisterService(QLatin1String(kServiceName));

    // The object lives as long as its container holds it.
    const QString container = message().service();
    m_containerWatcher =
        new QDBusServiceWatcher(container, bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(m_containerWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
            &ClassFactory::releaseObject);
    return QDBusObjectPath(QLatin1String(kObjectPath));
}

void ClassFactory::releaseObject()
{
    if (!m_object)
        return;
    // Our windows inside the container's go first: Qt would not end while
    // they count as shown, and their foreign parents must outlive them.
    auto* document =
        dynamic_cast<ServerDoc*>(m_pDocTemplate ? m_pDocTemplate->document() : nullptr);
    if (document)
        document->releaseObject();
    QDBusConnection::sessionBus().unregisterObject(QLatin1String(kObjectPath));
    m_object->deleteLater();
    m_object = nullptr;
    QCoreApplication::exit(0);
}

} // namespace embedding::internal

// The class factory on the bus (interface org.tolvern.Brisolde.ClassFactory
// at /org/tolvern/Brisolde/Factory, well-known name
// org.tolvern.Brisolde.Document). With multiple instances it serves one
// object: having made it, it gives the well-known name back, so the bus
// starts a new process for the next request, and this process serves its
// object through its unique name. The server follows its container: when
// the container leaves the bus, or lets go of the object, the server ends.
#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace embedding {
class ServerDocTemplate;
}

class QDBusServiceWatcher;

namespace embedding::internal {

class ObjectAdaptor;

class ClassFactory : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tolvern.Brisolde.ClassFactory")
    Q_PROPERTY(QString TypeName READ TypeName)
    Q_PROPERTY(QString ProgID READ ProgID)
    Q_PROPERTY(QString ClassID READ ClassID)

public:
    ClassFactory(ServerDocTemplate* docTemplate, const QString& classId, bool multipleInstances);
    ~ClassFactory() override;

    QString TypeName() const;
    QString ProgID() const;
    QString ClassID() const { return m_classId; }

    // Exports the factory and claims the well-known name; false with the
    // reason in `error` when the name is taken or there is no bus.
    bool registerAll(QString* error);

    // How long a server started for a request that never comes stays.
    static constexpr int kIdleTimeout = 30000; // ms

public slots:
    // Makes the document and its embedded item; returns the object's path.
    Q_SCRIPTABLE QDBusObjectPath CreateObject();

private:
    void releaseObject();

    ServerDocTemplate* m_pDocTemplate;
    QString m_classId;
    bool m_multipleInstances;
    QPointer<ObjectAdaptor> m_object;
    QDBusServiceWatcher* m_containerWatcher = nullptr;
    QTimer m_idle;
};

} // namespace embedding::internal

// One embedded object on the bus (interface org.tolvern.Brisolde.EmbeddedObject
// at /org/tolvern/Brisolde/Object): the container's calls go to the server
// document and its embedded item; what the document tells its container
// leaves as signals. While the object is active in place its menu is
// published beside it (com.canonical.dbusmenu at .../Object/Menu).
#pragma once

#include "serverdoc.h"

#include <QByteArray>
#include <QDBusContext>
#include <QObject>
#include <QPointer>

namespace embedding::internal {

class DBusMenuExporter;

class ObjectAdaptor : public QObject, protected QDBusContext, public ClientSite
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tolvern.Brisolde.EmbeddedObject")

public:
    explicit ObjectAdaptor(ServerDoc* document, QObject* parent = nullptr);
    ~ObjectAdaptor() override;

    // ClientSite
    void OnUpdate(const QByteArray& data) override;
    void OnShowWindow(bool shown) override;
    void OnDeactivate() override;
    void SetStatusText(const QString& text) override;
    void OnPosRectChange(const QSize& size) override;
    void OnBorderSpaceChange(int height) override;

public slots:
    // The size in 0.01 mm for a drawing aspect (1 content, 4 icon, ...): cx, cy.
    Q_SCRIPTABLE int GetExtent(int aspect, int& cy);
    // The picture for `aspect` drawn into width x height pixels, as PNG.
    Q_SCRIPTABLE QByteArray Draw(int aspect, int width, int height);
    // The object's data, and the same data back into a new server.
    Q_SCRIPTABLE QByteArray Save();
    Q_SCRIPTABLE void Load(const QByteArray& data);
    // The container's name and the name of its document (for titles).
    Q_SCRIPTABLE void SetHostNames(const QString& containerApplication,
                                   const QString& containerDocument);
    // In place: `site` is the object's area, `frameStrip` the strip of the
    // container's frame for the bars (X11 window ids), with their sizes in
    // pixels. Returns the height the bars take of the strip.
    Q_SCRIPTABLE int InPlaceActivate(qulonglong site, qulonglong frameStrip, int siteWidth,
                                     int siteHeight, int frameStripWidth);
    // The container's windows changed size.
    Q_SCRIPTABLE void SetObjectRects(int siteWidth, int siteHeight, int frameStripWidth);
    Q_SCRIPTABLE void InPlaceDeactivate();
    // Shows the object in the program's own window.
    Q_SCRIPTABLE void Open();
    // The container lets go of the object: the server ends.
    Q_SCRIPTABLE void Close();

signals:
    Q_SCRIPTABLE void Updated(const QByteArray& data);
    Q_SCRIPTABLE void ShowWindow(bool shown);
    Q_SCRIPTABLE void Deactivated();
    Q_SCRIPTABLE void StatusText(const QString& text);
    Q_SCRIPTABLE void PosRectChange(int width, int height);
    // The bars need another height of the container's strip.
    Q_SCRIPTABLE void BorderSpace(int height);
    // Close was called.
    void released();

private:
    void unpublishMenu();

    ServerDoc* m_document;
    QPointer<DBusMenuExporter> m_menu;
};

} // namespace embedding::internal

// A small container document for the embedding tests: a frame whose menu
// bar takes the object's in-place menu, a strip at the top for the object's
// bars, and a page with one object site. The test drives it over the bus
// (interface org.tolvern.TestContainer at /Container) and looks at the
// windows with X11 tools.
#pragma once

#include <QDBusVariant>
#include <QImage>
#include <QMainWindow>
#include <QVariantMap>
#include <functional>

class QDBusMessage;
class QDBusServiceWatcher;
class QMenu;
class XEmbedFocus;

class ContainerWindow : public QMainWindow
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tolvern.TestContainer")

public:
    ContainerWindow(const QString& name, const XEmbedFocus* xembed);
    ~ContainerWindow() override;

public slots:
    // Asks the bus for a new object; the server's unique name or "error: ...".
    Q_SCRIPTABLE QString InsertObject();
    // "ok start=MS reply=MS shown=MS", "fallback: open" or "error: NAME: text".
    Q_SCRIPTABLE QString ActivateInPlace();
    // As ActivateInPlace, with window ids of our own choosing.
    Q_SCRIPTABLE QString ActivateWithWindows(qulonglong site, qulonglong strip);
    Q_SCRIPTABLE void Deactivate();
    Q_SCRIPTABLE QString OpenObject();
    Q_SCRIPTABLE void ResizeObject(int width, int height);
    // The extent the object gives for `aspect`: "cx cy" or the error's name.
    Q_SCRIPTABLE QString Extent(int aspect);
    Q_SCRIPTABLE bool SaveDocument(const QString& path);
    Q_SCRIPTABLE bool LoadDocument(const QString& path);
    // The menu bar's titles, each menu's items in brackets.
    Q_SCRIPTABLE QString MenuBarText();
    // Screen centre of a menu-bar title ("View") or, while that menu is
    // open, of one of its items ("View/Toolbar"): "x y", or "" when absent.
    Q_SCRIPTABLE QString MenuPosition(const QString& path);
    Q_SCRIPTABLE QString State();
    Q_SCRIPTABLE bool Screenshot(const QString& path);
    Q_SCRIPTABLE void Quit();

private slots:
    void onDeactivated();
    void onShowWindow(bool shown);
    void onUpdated(const QByteArray& bytes);
    void onStatusText(const QString& text);
    void onPosRectChange(int width, int height);
    void onBorderSpace(int height);
    void onServerGone(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct MenuNode
    {
        int id = 0;
        QVariantMap properties;
        QList<MenuNode> children;
    };

    bool startServer(QString* error);
    QDBusMessage callServer(const QString& method, const QVariantList& arguments = {});
    QDBusMessage callMenu(const QString& method, const QVariantList& arguments);
    void placeObject(int cx, int cy);
    void leftInPlace();
    void mergeMenus();
    void ownMenus();
    QMenu* serverMenu(const MenuNode& node);
    void refreshMenu(QMenu* menu, int id);
    void note(const QString& event);
    bool waitShown(int timeoutMs);

    QString m_name;
    const XEmbedFocus* m_xembed;
    QWidget* m_strip = nullptr; // the frame's strip for the object's bars
    QWidget* m_page = nullptr;
    QWidget* m_site = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_objectMenu = nullptr;
    QList<QMenu*> m_serverMenus;
    QDBusServiceWatcher* m_watcher = nullptr;

    bool m_hasObject = false;
    QByteArray m_data;
    QSize m_extent;
    QImage m_picture;
    QString m_server;
    uint m_serverPid = 0;
    bool m_inPlace = false;
    bool m_open = false;
    int m_escapes = 0;
    int m_keys = 0;
    QString m_status;
    QStringList m_events;
};

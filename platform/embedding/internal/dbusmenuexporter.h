// Publishes a menu bar on the session bus in the com.canonical.dbusmenu
// layout (version 3), the one desktop global menus read, so that another
// program can show our menus in its own menu bar and send back what the user
// chose there: a chosen item triggers its action here.
//
// Item 0 is the menu bar; its children are the drop-down menus and, as
// items of type "separator", the gaps where a container puts its own menus.
#pragma once

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusVariant>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <map>

class QAction;
class QMenu;
class QMenuBar;

namespace embedding::internal {

struct DBusMenuItem
{
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

struct DBusMenuItemKeys
{
    int id = 0;
    QStringList properties;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

struct DBusMenuLayoutItem
{
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

struct DBusMenuEvent
{
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

// Key combinations, each as its key names ("Control", "X").
using DBusMenuShortcut = QList<QStringList>;

// Registers the types above with the bus's type system (once).
void registerDBusMenuTypes();

// A label in the menu convention: '_' marks the mnemonic, "__" a literal
// underscore; Qt's '&' marks are changed and a "\t..." shortcut text dropped.
QString dbusMenuLabel(const QString& text);

class DBusMenuExporter : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)

public:
    // `aboutToShow` runs before a drop-down menu opens (its items' update handlers).
    DBusMenuExporter(QMenuBar* bar, std::function<void(QMenu*)> aboutToShow,
                     QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    uint Version() const { return 3; }
    QString TextDirection() const;
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

public slots:
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                embedding::internal::DBusMenuLayoutItem& layout);
    Q_SCRIPTABLE embedding::internal::DBusMenuItemList
    GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data,
                            uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const embedding::internal::DBusMenuEventList& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    Q_SCRIPTABLE void
    ItemsPropertiesUpdated(const embedding::internal::DBusMenuItemList& updated,
                           const embedding::internal::DBusMenuItemKeysList& removed);
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

private:
    void addItems(int parentId, const QList<QAction*>& actions);
    QVariantMap properties(int id, const QStringList& names = {}) const;
    DBusMenuLayoutItem layoutOf(int id, int depth, const QStringList& names) const;
    bool activate(int id, const QString& eventId);
    void markChanged(int id);
    void flushChanges();

    QPointer<QMenuBar> m_bar;
    std::function<void(QMenu*)> m_aboutToShow;
    std::map<int, QPointer<QAction>> m_items; // by item id; 0 is the bar
    std::map<int, QList<int>> m_children;     // item ids by parent id
    QSet<int> m_changed;
    uint m_revision = 1;
};

} // namespace embedding::internal

Q_DECLARE_METATYPE(embedding::internal::DBusMenuItem)
Q_DECLARE_METATYPE(embedding::internal::DBusMenuItemKeys)
Q_DECLARE_METATYPE(embedding::internal::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(embedding::internal::DBusMenuEvent)

#include "dbusmenuexporter.h"

#include <QAction>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace embedding::internal {

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys)
{
    argument.beginStructure();
    argument << keys.id << keys.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys)
{
    argument.beginStructure();
    argument >> keys.id >> keys.properties;
    argument.endStructure();
    return argument;
}

// (ia{sv}av): the children are variants that hold the same structure.
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant variant;
        argument >> variant;
        DBusMenuLayoutItem child;
        variant.variant().value<QDBusArgument>() >> child;
        item.children.append(child);
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event)
{
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event)
{
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

void registerDBusMenuTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<DBusMenuItemList>();
        // Signatures name the lists by their aliases.
        qRegisterMetaType<DBusMenuItemList>("embedding::internal::DBusMenuItemList");
        qRegisterMetaType<DBusMenuItemKeysList>("embedding::internal::DBusMenuItemKeysList");
        qRegisterMetaType<DBusMenuEventList>("embedding::internal::DBusMenuEventList");
        qDBusRegisterMetaType<DBusMenuItemKeys>();
        qDBusRegisterMetaType<DBusMenuItemKeysList>();
        qDBusRegisterMetaType<DBusMenuLayoutItem>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
        qDBusRegisterMetaType<DBusMenuShortcut>();
        qDBusRegisterMetaType<QList<int>>();
        return true;
    }();
    Q_UNUSED(registered);
}

QString dbusMenuLabel(const QString& text)
{
    const QString shown = text.section(QLatin1Char('\t'), 0, 0);
    QString label;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown.at(i);
        if (c == QLatin1Char('&')) {
            if (i + 1 < shown.size() && shown.at(i + 1) == QLatin1Char('&')) {
                label += QLatin1Char('&');
                ++i;
            } else {
                label += QLatin1Char('_');
            }
        } else if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else {
            label += c;
        }
    }
    return label;
}

namespace {

DBusMenuShortcut shortcutOf(const QAction* action)
{
    DBusMenuShortcut shortcut;
    for (const QKeySequence& sequence : action->shortcuts()) {
        for (int i = 0; i < sequence.count(); ++i) {
            const QKeyCombination combination = sequence[uint(i)];
            QStringList keys;
            const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
            if (modifiers & Qt::ControlModifier)
                keys << QStringLiteral("Control");
            if (modifiers & Qt::AltModifier)
                keys << QStringLiteral("Alt");
            if (modifiers & Qt::ShiftModifier)
                keys << QStringLiteral("Shift");
            if (modifiers & Qt::MetaModifier)
                keys << QStringLiteral("Super");
            // Key names as desktop menus spell them.
            QString key = QKeySequence(combination.key()).toString(QKeySequence::PortableText);
            if (key == QLatin1String("Del"))
                key = QStringLiteral("Delete");
            else if (key == QLatin1String("Ins"))
                key = QStringLiteral("Insert");
            else if (key == QLatin1String("Esc"))
                key = QStringLiteral("Escape");
            keys << key;
            shortcut << keys;
        }
    }
    return shortcut;
}

} // namespace

DBusMenuExporter::DBusMenuExporter(QMenuBar* bar, std::function<void(QMenu*)> aboutToShow,
                                   QObject* parent)
    : QObject(parent), m_bar(bar), m_aboutToShow(std::move(aboutToShow))
{
    registerDBusMenuTypes();
    m_items[0] = nullptr;
    if (bar)
        addItems(0, bar->actions());
}

DBusMenuExporter::~DBusMenuExporter() = default;

QString DBusMenuExporter::TextDirection() const
{
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                 : QStringLiteral("ltr");
}

void DBusMenuExporter::addItems(int parentId, const QList<QAction*>& actions)
{
    for (QAction* action : actions) {
        const int id = int(m_items.size());
        m_items[id] = action;
        m_children[parentId].append(id);
        connect(action, &QAction::changed, this, [this, id] { markChanged(id); });
        if (QMenu* menu = action->menu())
            addItems(id, menu->actions());
    }
}

QVariantMap DBusMenuExporter::properties(int id, const QStringList& names) const
{
    QVariantMap all;
    const auto it = m_items.find(id);
    if (it == m_items.end())
        return all;
    const QAction* action = it->second;
    if (id == 0) {
        all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (!action) {
        return all;
    } else if (action->isSeparator()) {
        all.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        all.insert(QStringLiteral("label"), dbusMenuLabel(action->text()));
        // Sent also at their defaults, so that an update can turn them back.
        all.insert(QStringLiteral("enabled"), action->isEnabled());
        all.insert(QStringLiteral("visible"), action->isVisible());
        if (action->menu())
            all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        if (action->isCheckable()) {
            all.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
            all.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
        const DBusMenuShortcut shortcut = shortcutOf(action);
        if (!shortcut.isEmpty())
            all.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcut));
    }
    if (names.isEmpty())
        return all;
    QVariantMap chosen;
    for (const QString& name : names) {
        if (all.contains(name))
            chosen.insert(name, all.value(name));
    }
    return chosen;
}

DBusMenuLayoutItem DBusMenuExporter::layoutOf(int id, int depth, const QStringList& names) const
{
    DBusMenuLayoutItem item;
    item.id = id;
    item.properties = properties(id, names);
    if (depth == 0)
        return item;
    const auto children = m_children.find(id);
    if (children == m_children.end())
        return item;
    for (int child : children->second)
        item.children.append(layoutOf(child, depth < 0 ? -1 : depth - 1, names));
    return item;
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout)
{
    if (!m_items.contains(parentId)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu item %1").arg(parentId));
        return 0;
    }
    layout = layoutOf(parentId, recursionDepth, propertyNames);
    return m_revision;
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames)
{
    DBusMenuItemList items;
    for (int id : ids) {
        if (m_items.contains(id))
            items.append(DBusMenuItem{id, properties(id, propertyNames)});
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name)
{
    const QVariantMap all = properties(id, {name});
    if (!all.contains(name)) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("menu item %1 has no property %2").arg(id).arg(name));
        return {};
    }
    return QDBusVariant(all.value(name));
}

bool DBusMenuExporter::activate(int id, const QString& eventId)
{
    const auto it = m_items.find(id);
    if (it == m_items.end() || (id != 0 && !it->second))
        return false;
    if (eventId != QLatin1String("clicked"))
        return true; // "opened", "closed", "hovered": nothing to do
    QAction* action = it->second;
    if (!action || action->menu() || action->isSeparator() || !action->isEnabled())
        return true;
    // After the reply: the command may take its time or change the menus.
    QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    return true;
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    if (!activate(id, eventId))
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu item %1").arg(id));
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events)
{
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!activate(event.id, event.eventId))
            idErrors.append(event.id);
    }
    if (!events.isEmpty() && idErrors.size() == events.size())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such menu items"));
    return idErrors;
}

bool DBusMenuExporter::AboutToShow(int id)
{
    const auto it = m_items.find(id);
    if (it == m_items.end())
        return false;
    QAction* action = it->second;
    if (action && action->menu() && m_aboutToShow)
        m_aboutToShow(action->menu());
    const bool changed = !m_changed.isEmpty();
    flushChanges();
    return changed;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    QList<int> updatesNeeded;
    for (int id : ids) {
        if (!m_items.contains(id))
            idErrors.append(id);
        else if (AboutToShow(id))
            updatesNeeded.append(id);
    }
    return updatesNeeded;
}

void DBusMenuExporter::markChanged(int id)
{
    if (m_changed.isEmpty())
        QTimer::singleShot(0, this, &DBusMenuExporter::flushChanges);
    m_changed.insert(id);
}

void DBusMenuExporter::flushChanges()
{
    if (m_changed.isEmpty())
        return;
    DBusMenuItemList updated;
    for (int id : std::as_const(m_changed))
        updated.append(DBusMenuItem{id, properties(id)});
    m_changed.clear();
    emit ItemsPropertiesUpdated(updated, {});
}

} // namespace embedding::internal

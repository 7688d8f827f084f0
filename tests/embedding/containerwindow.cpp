#include "containerwindow.h"

#include "xembedfocus.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.tolvern.Brisolde.Document");
const QString kFactoryPath = QStringLiteral("/org/tolvern/Brisolde/Factory");
const QString kFactoryInterface = QStringLiteral("org.tolvern.Brisolde.ClassFactory");
const QString kObjectInterface = QStringLiteral("org.tolvern.Brisolde.EmbeddedObject");
const QString kMenuPath = QStringLiteral("/org/tolvern/Brisolde/Object/Menu");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kObjectTaken = QStringLiteral("org.tolvern.Brisolde.Error.ObjectTaken");
const QString kNotSupported = QStringLiteral("org.tolvern.Brisolde.Error.InPlaceNotSupported");
constexpr int kContentAspect = 1;

// The object's site: white, with the object's picture and a frame; hatched
// while the object is open in its server's own window.
class Site : public QWidget
{
public:
    using QWidget::QWidget;
    const QImage* picture = nullptr;
    bool hatched = false;
    bool running = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (picture && !picture->isNull())
            painter.drawImage(rect(), *picture);
        if (hatched)
            painter.fillRect(rect(), QBrush(Qt::gray, Qt::BDiagPattern));
        painter.setPen(running ? Qt::blue : Qt::black);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

// dbusmenu labels mark the mnemonic with '_'; Qt with '&'.
QString qtLabel(const QString& label)
{
    QString text;
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label.at(i) == QLatin1Char('_')) {
            if (i + 1 < label.size() && label.at(i + 1) == QLatin1Char('_')) {
                text += QLatin1Char('_');
                ++i;
            } else {
                text += QLatin1Char('&');
            }
        } else if (label.at(i) == QLatin1Char('&')) {
            text += QStringLiteral("&&");
        } else {
            text += label.at(i);
        }
    }
    return text;
}

QString plain(QString text)
{
    return text.remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
}

} // namespace

ContainerWindow::ContainerWindow(const QString& name, const XEmbedFocus* xembed)
    : m_name(name), m_xembed(xembed)
{
    setWindowTitle(QStringLiteral("Container Document %1 - Test Container").arg(name));
    m_fileMenu = new QMenu(QStringLiteral("&File"), this);
    m_fileMenu->addAction(QStringLiteral("E&xit"), this, &ContainerWindow::Quit);
    m_objectMenu = new QMenu(QStringLiteral("&Object"), this);
    m_objectMenu->addAction(QStringLiteral("&Insert Qorvel Document"), this,
                            &ContainerWindow::InsertObject);
    m_objectMenu->addAction(QStringLiteral("&Activate"), this, &ContainerWindow::ActivateInPlace);
    m_objectMenu->addAction(QStringLiteral("O&pen"), this, &ContainerWindow::OpenObject);
    ownMenus();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_strip = new QWidget(central);
    m_strip->setFixedHeight(0);
    layout->addWidget(m_strip);
    m_page = new QWidget(central);
    m_page->setAutoFillBackground(true);
    m_page->setPalette(QPalette(QColor(230, 230, 210)));
    m_page->setFocusPolicy(Qt::StrongFocus);
    new QLabel(QStringLiteral("Container document. The object sits below."), m_page);
    layout->addWidget(m_page, 1);
    setCentralWidget(central);
    m_site = new Site(m_page);
    m_site->move(40, 40);
    m_site->hide();
    static_cast<Site*>(m_site)->picture = &m_picture;

    // The windows handed to the server must be X windows of their own.
    m_strip->setAttribute(Qt::WA_NativeWindow);
    m_site->setAttribute(Qt::WA_NativeWindow);
    m_strip->installEventFilter(this);
    m_site->installEventFilter(this);
    m_page->installEventFilter(this);

    // The container's own Escape (while it has the keyboard) also ends in-place activation.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        ++m_escapes;
        note(QStringLiteral("container:Escape"));
        Deactivate();
    });

    m_watcher = new QDBusServiceWatcher(this);
    m_watcher->setConnection(QDBusConnection::sessionBus());
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            &ContainerWindow::onServerGone);
}

ContainerWindow::~ContainerWindow() = default;

void ContainerWindow::note(const QString& event)
{
    m_events << event;
    std::fprintf(stderr, "container %s[%d]: %s\n", qPrintable(m_name), int(getpid()),
                 qPrintable(event));
}

QDBusMessage ContainerWindow::callServer(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_server, QStringLiteral("/org/tolvern/Brisolde/Object"), kObjectInterface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 15000);
}

QDBusMessage ContainerWindow::callMenu(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_server, kMenuPath, kMenuInterface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 15000);
}

bool ContainerWindow::startServer(QString* error)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage create = QDBusMessage::createMethodCall(kService, kFactoryPath, kFactoryInterface,
                                                         QStringLiteral("CreateObject"));
    create.setAutoStartService(true);
    QDBusMessage reply;
    // Requests that meet a server while it starts all reach that server,
    // which serves the first only: the others ask again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        reply = bus.call(create, QDBus::Block, 20000);
        if (reply.type() != QDBusMessage::ErrorMessage || reply.errorName() != kObjectTaken)
            break;
        note(QStringLiteral("object taken at %1: asking again").arg(reply.service()));
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        note(QStringLiteral("activation failed: ") + *error);
        return false;
    }
    m_server = reply.service(); // the unique name that serves the object from now on
    m_serverPid = bus.interface()->servicePid(m_server);
    m_watcher->setWatchedServices({m_server});
    const QString path = QStringLiteral("/org/tolvern/Brisolde/Object");
    bus.connect(m_server, path, kObjectInterface, QStringLiteral("Deactivated"), this,
                SLOT(onDeactivated()));
    bus.connect(m_server, path, kObjectInterface, QStringLiteral("ShowWindow"), this,
                SLOT(onShowWindow(bool)));
    bus.connect(m_server, path, kObjectInterface, QStringLiteral("Updated"), this,
                SLOT(onUpdated(QByteArray)));
    bus.connect(m_server, path, kObjectInterface, QStringLiteral("StatusText"), this,
                SLOT(onStatusText(QString)));
    bus.connect(m_server, path, kObjectInterface, QStringLiteral("PosRectChange"), this,
                SLOT(onPosRectChange(int, int)));
    bus.connect(m_server, path, kObjectInterface, QStringLiteral("BorderSpace"), this,
                SLOT(onBorderSpace(int)));
    callServer(QStringLiteral("SetHostNames"),
               {QStringLiteral("Test Container"), QStringLiteral("Container Document ") + m_name});
    static_cast<Site*>(m_site)->running = true;
    m_site->update();
    note(QStringLiteral("server %1 pid %2").arg(m_server).arg(m_serverPid));
    return true;
}

void ContainerWindow::placeObject(int cx, int cy)
{
    m_extent = QSize(cx, cy);
    // 0.01 mm to pixels at the screen's resolution.
    m_site->resize(qRound(cx * logicalDpiX() / 2540.0), qRound(cy * logicalDpiY() / 2540.0));
    m_site->show();
    const QDBusMessage picture =
        callServer(QStringLiteral("Draw"), {kContentAspect, m_site->width(), m_site->height()});
    m_picture = QImage::fromData(picture.arguments().value(0).toByteArray(), "PNG");
    m_site->update();
}

QString ContainerWindow::InsertObject()
{
    if (m_hasObject)
        return QStringLiteral("error: the document has an object already");
    QString error;
    if (!startServer(&error))
        return QStringLiteral("error: ") + error;
    m_hasObject = true;
    const QDBusMessage extent = callServer(QStringLiteral("GetExtent"), {kContentAspect});
    if (extent.type() == QDBusMessage::ReplyMessage && extent.arguments().size() == 2)
        placeObject(extent.arguments().at(0).toInt(), extent.arguments().at(1).toInt());
    m_data = callServer(QStringLiteral("Save")).arguments().value(0).toByteArray();
    return m_server;
}

QString ContainerWindow::Extent(int aspect)
{
    if (m_server.isEmpty())
        return QStringLiteral("error: no server");
    const QDBusMessage reply = callServer(QStringLiteral("GetExtent"), {aspect});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return reply.errorName();
    return QStringLiteral("%1 %2")
        .arg(reply.arguments().value(0).toInt())
        .arg(reply.arguments().value(1).toInt());
}

bool ContainerWindow::waitShown(int timeoutMs)
{
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return false;
    xcb_connection_t* connection = x11->connection();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        bool shown = false;
        if (auto* tree = xcb_query_tree_reply(
                connection, xcb_query_tree(connection, xcb_window_t(m_site->winId())), nullptr)) {
            const xcb_window_t* children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree) && !shown; ++i) {
                if (auto* attributes = xcb_get_window_attributes_reply(
                        connection, xcb_get_window_attributes(connection, children[i]), nullptr)) {
                    shown = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
                    std::free(attributes);
                }
            }
            std::free(tree);
        }
        if (shown)
            return true;
        QThread::msleep(2);
    }
    return false;
}

QString ContainerWindow::ActivateInPlace()
{
    return ActivateWithWindows(m_site->winId(), m_strip->winId());
}

QString ContainerWindow::ActivateWithWindows(qulonglong site, qulonglong strip)
{
    if (!m_hasObject)
        return QStringLiteral("error: no object");
    if (m_inPlace)
        return QStringLiteral("ok already");
    QElapsedTimer clock;
    clock.start();
    if (m_server.isEmpty()) {
        QString error;
        if (!startServer(&error))
            return QStringLiteral("error: ") + error;
        callServer(QStringLiteral("Load"), {m_data});
    }
    const qint64 started = clock.elapsed();
    const QDBusMessage reply =
        callServer(QStringLiteral("InPlaceActivate"),
                   {site, strip, m_site->width(), m_site->height(), m_strip->width()});
    const qint64 replied = clock.elapsed();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        note(QStringLiteral("in-place refused: ") + reply.errorName());
        if (reply.errorName() == kNotSupported)
            return QStringLiteral("fallback: ") + OpenObject();
        return QStringLiteral("error: %1: %2").arg(reply.errorName(), reply.errorMessage());
    }
    m_strip->setFixedHeight(reply.arguments().value(0).toInt());
    m_inPlace = true;
    mergeMenus();
    const bool shown = waitShown(3000);
    const qint64 visible = clock.elapsed();
    note(QStringLiteral("in place: bars %1 px high").arg(m_strip->height()));
    return QStringLiteral("ok start=%1 reply=%2 shown=%3")
        .arg(started)
        .arg(replied - started)
        .arg(shown ? QString::number(visible - started) : QStringLiteral("never"));
}

void ContainerWindow::leftInPlace()
{
    m_inPlace = false;
    m_strip->setFixedHeight(0);
    ownMenus();
}

void ContainerWindow::Deactivate()
{
    if (!m_inPlace)
        return;
    if (!m_server.isEmpty())
        callServer(QStringLiteral("InPlaceDeactivate"));
    leftInPlace();
    note(QStringLiteral("deactivated by the container"));
}

QString ContainerWindow::OpenObject()
{
    if (!m_hasObject)
        return QStringLiteral("error: no object");
    if (m_server.isEmpty()) {
        QString error;
        if (!startServer(&error))
            return QStringLiteral("error: ") + error;
        callServer(QStringLiteral("Load"), {m_data});
    }
    if (m_inPlace)
        Deactivate();
    const QDBusMessage reply = callServer(QStringLiteral("Open"));
    return reply.type() == QDBusMessage::ReplyMessage
               ? QStringLiteral("open")
               : QStringLiteral("error: ") + reply.errorName();
}

void ContainerWindow::ResizeObject(int width, int height)
{
    m_site->resize(width, height);
}

void ContainerWindow::ownMenus()
{
    menuBar()->clear();
    qDeleteAll(m_serverMenus);
    m_serverMenus.clear();
    menuBar()->addMenu(m_fileMenu);
    menuBar()->addMenu(m_objectMenu);
}

// The layout (ia{sv}av): children are variants holding the same structure.
static void readNode(const QDBusArgument& argument, int& id, QVariantMap& properties,
                     const std::function<void(const QDBusArgument&)>& child)
{
    argument.beginStructure();
    argument >> id >> properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant variant;
        argument >> variant;
        child(variant.variant().value<QDBusArgument>());
    }
    argument.endArray();
    argument.endStructure();
}

void ContainerWindow::mergeMenus()
{
    const QDBusMessage reply = callMenu(QStringLiteral("GetLayout"), {0, -1, QStringList()});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        note(QStringLiteral("no in-place menu: ") + reply.errorName());
        return;
    }
    std::function<MenuNode(const QDBusArgument&)> parse = [&parse](const QDBusArgument& a) {
        MenuNode node;
        readNode(a, node.id, node.properties,
                 [&node, &parse](const QDBusArgument& c) { node.children.append(parse(c)); });
        return node;
    };
    const MenuNode root = parse(reply.arguments().at(1).value<QDBusArgument>());
    // The object's groups around ours: before its first gap our File menu,
    // in the first gap our Object menu (the container's group), in the
    // second our window group (we have none).
    menuBar()->clear();
    menuBar()->addMenu(m_fileMenu);
    int gap = 0;
    for (const MenuNode& node : root.children) {
        if (node.properties.value(QStringLiteral("type")).toString() ==
            QLatin1String("separator")) {
            if (++gap == 1)
                menuBar()->addMenu(m_objectMenu);
            continue;
        }
        QMenu* menu = serverMenu(node);
        m_serverMenus << menu;
        menuBar()->addMenu(menu);
    }
    if (gap == 0)
        menuBar()->addMenu(m_objectMenu);
    note(QStringLiteral("menus merged: ") + MenuBarText());
}

QMenu* ContainerWindow::serverMenu(const MenuNode& node)
{
    auto* menu =
        new QMenu(qtLabel(node.properties.value(QStringLiteral("label")).toString()), this);
    const int menuId = node.id;
    for (const MenuNode& item : node.children) {
        if (item.properties.value(QStringLiteral("type")).toString() ==
            QLatin1String("separator")) {
            menu->addSeparator();
            continue;
        }
        QAction* action =
            menu->addAction(qtLabel(item.properties.value(QStringLiteral("label")).toString()));
        action->setProperty("dbusmenuId", item.id);
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] {
            // The object carries the command out.
            QDBusMessage event = QDBusMessage::createMethodCall(m_server, kMenuPath, kMenuInterface,
                                                                QStringLiteral("Event"));
            event.setArguments({id, QStringLiteral("clicked"),
                                QVariant::fromValue(QDBusVariant(QVariant(0))), 0u});
            QDBusConnection::sessionBus().asyncCall(event);
            note(QStringLiteral("menu item %1 chosen").arg(id));
        });
    }
    refreshMenu(menu, menuId);
    connect(menu, &QMenu::aboutToShow, this, [this, menu, menuId] {
        callMenu(QStringLiteral("AboutToShow"), {menuId});
        refreshMenu(menu, menuId);
    });
    return menu;
}

void ContainerWindow::refreshMenu(QMenu* menu, int id)
{
    const QDBusMessage reply = callMenu(QStringLiteral("GetLayout"), {id, 1, QStringList()});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return;
    QHash<int, QVariantMap> properties;
    int rootId = 0;
    QVariantMap rootProperties;
    readNode(reply.arguments().at(1).value<QDBusArgument>(), rootId, rootProperties,
             [&properties](const QDBusArgument& child) {
                 int childId = 0;
                 QVariantMap childProperties;
                 readNode(child, childId, childProperties, [](const QDBusArgument&) {});
                 properties.insert(childId, childProperties);
             });
    for (QAction* action : menu->actions()) {
        const QVariant itemId = action->property("dbusmenuId");
        if (!itemId.isValid() || !properties.contains(itemId.toInt()))
            continue;
        const QVariantMap& p = properties[itemId.toInt()];
        action->setEnabled(p.value(QStringLiteral("enabled"), true).toBool());
        action->setVisible(p.value(QStringLiteral("visible"), true).toBool());
        if (p.value(QStringLiteral("toggle-type")).toString() == QLatin1String("checkmark")) {
            action->setCheckable(true);
            action->setChecked(p.value(QStringLiteral("toggle-state")).toInt() == 1);
        }
    }
}

QString ContainerWindow::MenuBarText()
{
    QStringList titles;
    for (QAction* title : menuBar()->actions()) {
        QStringList items;
        if (QMenu* menu = title->menu()) {
            for (QAction* item : menu->actions())
                items << (item->isSeparator() ? QStringLiteral("-") : plain(item->text()));
        }
        titles << plain(title->text()) + QLatin1Char('[') + items.join(QLatin1Char(',')) +
                      QLatin1Char(']');
    }
    return titles.join(QLatin1Char(' '));
}

QString ContainerWindow::MenuPosition(const QString& path)
{
    const QString title = path.section(QLatin1Char('/'), 0, 0);
    const QString itemText = path.section(QLatin1Char('/'), 1);
    for (QAction* titleAction : menuBar()->actions()) {
        if (plain(titleAction->text()) != title)
            continue;
        QPoint centre;
        if (itemText.isEmpty()) {
            centre = menuBar()->mapToGlobal(menuBar()->actionGeometry(titleAction).center());
        } else {
            QMenu* menu = titleAction->menu();
            if (!menu || !menu->isVisible())
                return {};
            for (QAction* item : menu->actions()) {
                if (plain(item->text()) == itemText)
                    centre = menu->mapToGlobal(menu->actionGeometry(item).center());
            }
            if (centre.isNull())
                return {};
        }
        return QStringLiteral("%1 %2").arg(centre.x()).arg(centre.y());
    }
    return {};
}

bool ContainerWindow::SaveDocument(const QString& path)
{
    if (!m_server.isEmpty())
        m_data = callServer(QStringLiteral("Save")).arguments().value(0).toByteArray();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("test-container-document 1\n");
    if (m_hasObject)
        file.write(QStringLiteral("object Brisolde.Document %1 %2 %3 %4 [%5]\n")
                       .arg(m_site->x())
                       .arg(m_site->y())
                       .arg(m_extent.width())
                       .arg(m_extent.height())
                       .arg(QString::fromLatin1(m_data.toBase64()))
                       .toUtf8());
    return true;
}

bool ContainerWindow::LoadDocument(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readLine() != "test-container-document 1\n")
        return false;
    const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
    if (fields.size() == 7 && fields[0] == "object" && fields[1] == "Brisolde.Document") {
        m_hasObject = true;
        m_site->move(fields[2].toInt(), fields[3].toInt());
        m_extent = QSize(fields[4].toInt(), fields[5].toInt());
        m_site->resize(qRound(m_extent.width() * logicalDpiX() / 2540.0),
                       qRound(m_extent.height() * logicalDpiY() / 2540.0));
        m_site->show();
        m_data = QByteArray::fromBase64(fields[6].mid(1, fields[6].size() - 2));
    }
    return true; // no server until the object is activated
}

bool ContainerWindow::Screenshot(const QString& path)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->grabWindow(0).save(path, "PNG");
}

QString ContainerWindow::State()
{
    bool blank = !m_picture.isNull();
    for (int y = 0; blank && y < m_picture.height(); ++y) {
        for (int x = 0; blank && x < m_picture.width(); ++x)
            blank = qAlpha(m_picture.pixel(x, y)) == 0;
    }
    return QStringLiteral("object=%1 running=%2 server=%3 serverPid=%4 inplace=%5 open=%6 "
                          "site=%7x%8 picture=%9x%10 blank=%11 strip=%12 data=%13 mainWid=0x%14 "
                          "siteWid=0x%15 stripWid=0x%16 escapes=%17 keys=%18 xembed=%19 "
                          "status=%20 events=%21")
        .arg(m_hasObject)
        .arg(!m_server.isEmpty())
        .arg(m_server.isEmpty() ? QStringLiteral("-") : m_server)
        .arg(m_serverPid)
        .arg(m_inPlace)
        .arg(m_open)
        .arg(m_site->width())
        .arg(m_site->height())
        .arg(m_picture.width())
        .arg(m_picture.height())
        .arg(blank)
        .arg(m_strip->height())
        .arg(m_data.size())
        .arg(winId(), 0, 16)
        .arg(m_site->winId(), 0, 16)
        .arg(m_strip->winId(), 0, 16)
        .arg(m_escapes)
        .arg(m_keys)
        .arg(m_xembed ? m_xembed->requests() : -1)
        .arg(QString(m_status).replace(QLatin1Char(' '), QLatin1Char('_')))
        .arg(m_events.join(QLatin1Char('|')).replace(QLatin1Char(' '), QLatin1Char('_')));
}

void ContainerWindow::Quit()
{
    // The container lets go of its object, then ends.
    if (!m_server.isEmpty()) {
        QDBusMessage close =
            QDBusMessage::createMethodCall(m_server, QStringLiteral("/org/tolvern/Brisolde/Object"),
                                           kObjectInterface, QStringLiteral("Close"));
        QDBusConnection::sessionBus().asyncCall(close);
    }
    note(QStringLiteral("quitting"));
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

bool ContainerWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && m_inPlace && !m_server.isEmpty() &&
        (watched == m_site || watched == m_strip)) {
        // The server cannot see our windows change size: it is told.
        QDBusMessage call =
            QDBusMessage::createMethodCall(m_server, QStringLiteral("/org/tolvern/Brisolde/Object"),
                                           kObjectInterface, QStringLiteral("SetObjectRects"));
        call.setArguments({m_site->width(), m_site->height(), m_strip->width()});
        QDBusConnection::sessionBus().asyncCall(call);
    }
    if (watched == m_page && event->type() == QEvent::KeyPress) {
        ++m_keys;
        note(QStringLiteral("key %1 on the container's page")
                 .arg(static_cast<QKeyEvent*>(event)->key(), 0, 16));
    }
    if (watched == m_page && event->type() == QEvent::MouseButtonPress && m_inPlace) {
        note(QStringLiteral("click on the page beside the object"));
        Deactivate();
    }
    return QMainWindow::eventFilter(watched, event);
}

void ContainerWindow::onDeactivated()
{
    note(QStringLiteral("server:Deactivated"));
    if (m_inPlace)
        leftInPlace();
}

void ContainerWindow::onShowWindow(bool shown)
{
    note(shown ? QStringLiteral("server:Shown") : QStringLiteral("server:Hidden"));
    m_open = shown;
    static_cast<Site*>(m_site)->hatched = shown;
    m_site->update();
}

void ContainerWindow::onUpdated(const QByteArray& bytes)
{
    note(QStringLiteral("server:Updated(%1 bytes)").arg(bytes.size()));
    m_data = bytes;
}

void ContainerWindow::onStatusText(const QString& text)
{
    m_status = text;
    statusBar()->showMessage(text);
}

void ContainerWindow::onPosRectChange(int width, int height)
{
    note(QStringLiteral("server asks for %1x%2").arg(width).arg(height));
    ResizeObject(width, height);
}

void ContainerWindow::onBorderSpace(int height)
{
    if (m_inPlace)
        m_strip->setFixedHeight(height);
}

void ContainerWindow::onServerGone(const QString& name)
{
    if (name != m_server)
        return;
    note(QStringLiteral("server %1 left the bus").arg(name));
    m_server.clear();
    m_serverPid = 0;
    auto* site = static_cast<Site*>(m_site);
    site->running = site->hatched = false;
    m_open = false;
    if (m_inPlace)
        leftInPlace();
    m_site->update();
}

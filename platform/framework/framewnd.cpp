#include "framewnd.h"

#include "document.h"
#include "winapp.h"

#include "images.h"
#include "menus.h"
#include "resource.h"
#include "stringtable.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

namespace framework {
namespace {

constexpr char kCommandIdProperty[] = "framework.commandId";

int commandIdOf(const QAction* action)
{
    bool ok = false;
    const int id = action->property(kCommandIdProperty).toInt(&ok);
    return ok ? id : -1;
}

bool inMenu(const QAction* action)
{
    const auto objects = action->associatedObjects();
    return std::any_of(objects.begin(), objects.end(),
                       [](QObject* o) { return qobject_cast<QMenu*>(o) != nullptr; });
}

} // namespace

void StatusBarPanes::create(QMainWindow* frame, const std::vector<int>& ids,
                            const std::function<QString(int)>& loadText)
{
    QStatusBar* bar = frame->statusBar();
    for (const Pane& pane : m_panes) {
        bar->removeWidget(pane.label);
        delete pane.label;
    }
    m_panes.clear();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        auto* label = new QLabel(bar);
        label->setTextFormat(Qt::PlainText);
        Pane pane{ids[i], label, loadText(ids[i]), true};
        label->setText(pane.text);
        if (i == 0) {
            // The message pane stretches; status tips are shown over it.
            bar->addWidget(label, 1);
        } else {
            label->setFrameShape(QFrame::Panel);
            label->setFrameShadow(QFrame::Sunken);
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(pane.text) + 8);
            bar->addPermanentWidget(label);
        }
        m_panes.push_back(pane);
    }
}

int StatusBarPanes::idToIndex(int id) const
{
    for (std::size_t i = 0; i < m_panes.size(); ++i) {
        if (m_panes[i].id == id)
            return int(i);
    }
    return -1;
}

int StatusBarPanes::paneId(int index) const
{
    return index >= 0 && index < paneCount() ? m_panes[std::size_t(index)].id : -1;
}

QLabel* StatusBarPanes::pane(int index) const
{
    return index >= 0 && index < paneCount() ? m_panes[std::size_t(index)].label : nullptr;
}

void StatusBarPanes::setPaneText(int index, const QString& text)
{
    if (index < 0 || index >= paneCount())
        return;
    Pane& pane = m_panes[std::size_t(index)];
    pane.text = text;
    if (pane.enabled && pane.label->text() != text)
        pane.label->setText(text);
}

QString StatusBarPanes::paneText(int index) const
{
    return index >= 0 && index < paneCount() ? m_panes[std::size_t(index)].text : QString();
}

void StatusBarPanes::setPaneEnabled(int index, bool enabled)
{
    if (index < 0 || index >= paneCount())
        return;
    Pane& pane = m_panes[std::size_t(index)];
    pane.enabled = enabled;
    const QString shown = enabled ? pane.text : QString();
    if (pane.label->text() != shown)
        pane.label->setText(shown);
}

void StatusBarPanes::setPaneWidth(int index, int width)
{
    if (QLabel* label = pane(index)) {
        label->setMinimumWidth(width);
        label->setMaximumWidth(index == 0 ? QWIDGETSIZE_MAX : width);
    }
}

int StatusBarPanes::paneWidth(int index) const
{
    const QLabel* label = pane(index);
    return label ? std::max(label->width(), label->minimumWidth()) : 0;
}

FrameWnd::FrameWnd(QWidget* parent) : QMainWindow(parent)
{
    m_focusConnection = connect(qApp, &QApplication::focusChanged, this,
                                [this](QWidget*, QWidget* now) { trackFocus(now); });
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        m_idleConnection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                   &FrameWnd::OnIdleUpdateCmdUI);
}

FrameWnd::~FrameWnd()
{
    // The widgets die after this destructor and move the focus as they go:
    // those signals must not reach a frame that is half destroyed.
    disconnect(m_focusConnection);
    disconnect(m_idleConnection);
    if (WinApp* app = WinApp::instance(); app && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

bool FrameWnd::LoadFrame(int resourceId, CreateContext* context)
{
    m_nIDHelp = resourceId;
    LoadMenu(resourceId);
    LoadAccelTable(resourceId);
    setWindowIcon(res::loadIcon(resourceId));
    OnUpdateFrameTitle();
    return OnCreate(context) != -1;
}

QAction* FrameWnd::actionFor(int id)
{
    if (QAction* existing = commandAction(id))
        return existing;
    auto* action = new QAction(this);
    const QString prompt = res::loadString(id);
    const qsizetype newline = prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(newline < 0 ? prompt : prompt.left(newline));
    if (newline >= 0)
        action->setToolTip(prompt.mid(newline + 1));
    return addCommandAction(action, id);
}

bool FrameWnd::LoadMenu(int id)
{
    const auto popups = res::menuResource(id);
    if (popups.empty())
        return false;
    QMenuBar* bar = menuBar();
    bar->clear();
    for (const res::MenuPopup& popup : popups) {
        if (!popup.text) {
            bar->addSeparator();
            continue;
        }
        QMenu* menu = bar->addMenu(QString::fromUtf8(popup.text));
        for (const res::MenuItem& item : popup.items) {
            if (!item.text) {
                menu->addSeparator();
                continue;
            }
            QAction* action = actionFor(item.id);
            action->setText(QString::fromUtf8(item.text));
            if (item.grayed)
                action->setEnabled(false);
            menu->addAction(action);
        }
        watchMenu(menu);
    }
    return true;
}

void FrameWnd::LoadAccelTable(int id)
{
    for (const QPointer<QAction>& action : m_accelActions) {
        if (action)
            action->setShortcuts({});
    }
    m_accelActions.clear();
    std::map<int, QList<QKeySequence>> keys;
    for (const res::Accelerator& accel : res::acceleratorTable(id))
        keys[accel.id].append(QKeySequence(accel.key));
    for (const auto& [commandId, sequences] : keys) {
        QAction* action = actionFor(commandId);
        action->setShortcuts(sequences);
        action->setShortcutContext(Qt::WindowShortcut);
        // Keys work even for commands that have no menu item or button.
        addAction(action);
        m_accelActions.emplace_back(action);
    }
}

bool FrameWnd::LoadToolBar(QToolBar* bar, int id)
{
    const auto buttons = res::toolbarButtons(id);
    if (buttons.empty())
        return false;
    const QList<QPixmap> images = res::splitStrip(res::loadBitmap(id), res::kToolbarImageWidth);
    bar->clear();
    bar->setIconSize(QSize(res::kToolbarImageWidth, res::kToolbarImageHeight));
    qsizetype image = 0;
    for (int buttonId : buttons) {
        if (buttonId == ID_SEPARATOR) {
            bar->addSeparator();
            continue;
        }
        QAction* action = actionFor(buttonId);
        if (image < images.size())
            action->setIcon(QIcon(images.at(image)));
        ++image;
        bar->addAction(action);
    }
    return true;
}

int FrameWnd::OnCreate(CreateContext* context)
{
    return OnCreateClient(context) ? 0 : -1;
}

bool FrameWnd::OnCreateClient(CreateContext* context)
{
    if (!context || !context->m_newView)
        return true;
    View* view = context->m_newView(this);
    if (!view || !view->widget())
        return false;
    if (context->m_pCurrentDoc)
        context->m_pCurrentDoc->AddView(view);
    setCentralWidget(view->widget());
    return true;
}

View* FrameWnd::GetActiveView() const
{
    return m_activeViewWidget ? m_pActiveView : nullptr;
}

void FrameWnd::SetActiveView(View* view)
{
    m_pActiveView = view;
    m_activeViewWidget = view ? view->widget() : nullptr;
}

Document* FrameWnd::GetActiveDocument() const
{
    const View* view = GetActiveView();
    return view ? view->GetDocument() : nullptr;
}

void FrameWnd::trackFocus(QWidget* now)
{
    for (QWidget* w = now; w && w != this; w = w->parentWidget()) {
        if (auto* view = dynamic_cast<View*>(w)) {
            if (w->window() == this)
                SetActiveView(view);
            return;
        }
    }
}

void FrameWnd::InitialUpdateFrame(Document* document, bool makeVisible)
{
    // The document's views in this frame, in the order they were made: the
    // first one (the left pane) is active until another gets the focus.
    std::vector<View*> views;
    if (document) {
        for (View* view : document->views()) {
            if (view->widget() && view->widget()->window() == this)
                views.push_back(view);
        }
    }
    if (!GetActiveView() && !views.empty())
        SetActiveView(views.front());
    for (View* view : views)
        view->OnInitialUpdate();
    OnUpdateFrameTitle();
    if (makeVisible)
        ActivateFrame();
}

void FrameWnd::ActivateFrame()
{
    show();
    raise();
    activateWindow();
}

void FrameWnd::OnUpdateFrameTitle()
{
    const WinApp* app = WinApp::instance();
    const QString appTitle = app ? app->m_pszAppName : QString();
    const Document* document = GetActiveDocument();
    if (document && !document->GetTitle().isEmpty())
        setWindowTitle(document->GetTitle() + QStringLiteral(" - ") + appTitle);
    else
        setWindowTitle(appTitle);
}

bool FrameWnd::OnCmdMsg(int id, CommandKind kind, CmdUI* ui)
{
    if (View* view = GetActiveView(); view && view->OnCmdMsg(id, kind, ui))
        return true;
    if (dispatchOwn(id, kind, ui))
        return true;
    WinApp* app = WinApp::instance();
    return app && app->OnCmdMsg(id, kind, ui);
}

bool FrameWnd::sendCommand(int id)
{
    return OnCmdMsg(id, CommandKind::Command, nullptr);
}

void FrameWnd::OnCommand(int id)
{
    CmdUI state(id);
    OnCmdMsg(id, CommandKind::Update, &state);
    if (state.enabled() && !*state.enabled())
        return;
    sendCommand(id);
}

QAction* FrameWnd::addCommandAction(QAction* action, int id)
{
    for (auto it = m_actions.begin(); it != m_actions.end();)
        it = it->second ? std::next(it) : m_actions.erase(it);
    action->setProperty(kCommandIdProperty, id);
    connect(action, &QAction::triggered, this, [this, action](bool checked) {
        // Qt flips a checkable item's mark before it says that the item was
        // chosen. Here check marks belong to the program (CheckMenuItem and
        // the update handlers), whichever way the item was reached: put the
        // mark back, so the handler sees the state the user saw.
        if (action->isCheckable())
            action->setChecked(!checked);
        const int commandId = commandIdOf(action);
        // A disabled item must not run: a shortcut can fire before an idle update.
        if (commandId >= 0 && action->isEnabled())
            OnCommand(commandId);
    });
    m_actions.emplace(id, action);
    return action;
}

QAction* FrameWnd::commandAction(int id) const
{
    auto [first, last] = m_actions.equal_range(id);
    for (auto it = first; it != last; ++it) {
        if (it->second)
            return it->second;
    }
    return nullptr;
}

std::vector<QAction*> FrameWnd::commandActions(int id) const
{
    std::vector<QAction*> actions;
    auto [first, last] = m_actions.equal_range(id);
    for (auto it = first; it != last; ++it) {
        if (it->second)
            actions.push_back(it->second);
    }
    return actions;
}

void FrameWnd::watchMenu(QMenu* menu)
{
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { updateMenuCommands(menu); });
}

void FrameWnd::updateMenuCommands(QMenu* menu)
{
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions) {
        const int id = commandIdOf(action);
        // Skip separators, sub-menus and items an earlier handler took out.
        if (id < 0 || action->isSeparator() || !menu->actions().contains(action))
            continue;
        CmdUI ui(id, action, menu);
        ui.DoUpdate(this, true);
        ui.applyToAction();
    }
}

void FrameWnd::OnIdleUpdateCmdUI()
{
    if (m_inIdleUpdate || !isVisible())
        return;
    m_inIdleUpdate = true;
    // Buttons of this frame's commands, also on bars that stand outside the
    // frame; keys must see the current state too, also for items that sit
    // only in a menu.
    auto onVisibleToolBar = [](const QAction* action) {
        const auto objects = action->associatedObjects();
        return std::any_of(objects.begin(), objects.end(), [](QObject* o) {
            auto* bar = qobject_cast<QToolBar*>(o);
            return bar && bar->isVisible();
        });
    };
    for (const auto& [id, action] : m_actions) {
        if (!action || action->isSeparator() ||
            (action->shortcuts().isEmpty() && !onVisibleToolBar(action)))
            continue;
        CmdUI ui(id, action);
        ui.DoUpdate(this, true);
        ui.applyToAction();
    }
    for (int i = 0; i < m_statusPanes.paneCount(); ++i) {
        CmdUI ui(m_statusPanes.paneId(i));
        ui.DoUpdate(this, false);
        if (ui.enabled())
            m_statusPanes.setPaneEnabled(i, *ui.enabled());
        if (ui.text())
            m_statusPanes.setPaneText(i, *ui.text());
    }
    m_inIdleUpdate = false;
}

unsigned FrameWnd::GetMenuState(int id) const
{
    for (QAction* action : commandActions(id)) {
        if (!inMenu(action))
            continue;
        unsigned state = 0;
        if (action->isChecked())
            state |= MF_CHECKED;
        if (!action->isEnabled())
            state |= MF_GRAYED | MF_DISABLED;
        return state;
    }
    return kMenuStateNotFound;
}

unsigned FrameWnd::CheckMenuItem(int id, unsigned flags)
{
    const unsigned previous = GetMenuState(id);
    if (previous == kMenuStateNotFound)
        return previous;
    for (QAction* action : commandActions(id)) {
        action->setCheckable(true);
        action->setChecked((flags & MF_CHECKED) != 0);
    }
    return previous & MF_CHECKED;
}

unsigned FrameWnd::EnableMenuItem(int id, unsigned flags)
{
    const unsigned previous = GetMenuState(id);
    if (previous == kMenuStateNotFound)
        return previous;
    for (QAction* action : commandActions(id))
        action->setEnabled((flags & (MF_GRAYED | MF_DISABLED)) == 0);
    return previous & (MF_GRAYED | MF_DISABLED);
}

bool FrameWnd::event(QEvent* event)
{
    return QMainWindow::event(event);
}

void FrameWnd::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
}

} // namespace framework

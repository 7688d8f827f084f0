#include "ipframewnd.h"

#include "internal/foreignwindow.h"

#include "document.h"
#include "winapp.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QWindow>

namespace embedding {

void setControlId(QWidget* widget, int id)
{
    widget->setObjectName(QString::number(id));
}

int controlId(const QWidget* widget)
{
    bool ok = false;
    const int id = widget->objectName().toInt(&ok);
    return ok ? id : -1;
}

// ReBar

ReBar::ReBar() : QMainWindow(nullptr, Qt::Widget) {}

bool ReBar::Create(QWidget* parent, int id)
{
    if (!parent)
        return false;
    setParent(parent);
    setControlId(this, id);
    setAutoFillBackground(true);
    if (QLayout* layout = parent->layout())
        layout->addWidget(this);
    show();
    return true;
}

bool ReBar::AddBar(QWidget* bar)
{
    if (!bar)
        return false;
    auto* band = qobject_cast<QToolBar*>(bar);
    if (!band) {
        band = new QToolBar(this);
        band->setObjectName(bar->objectName() + QStringLiteral("Band"));
        band->addWidget(bar);
        bar->show();
    }
    band->setMovable(true); // the grip
    band->setFloatable(false);
    addToolBar(Qt::TopToolBarArea, band);
    band->show();
    m_bands.append(band);
    return true;
}

int ReBar::fitWidth(int width)
{
    for (QToolBar* band : std::as_const(m_breaks))
        removeToolBarBreak(band);
    m_breaks.clear();
    int used = 0;
    for (QToolBar* band : std::as_const(m_bands)) {
        const int wanted = band->sizeHint().width();
        if (used > 0 && used + wanted > width) {
            insertToolBarBreak(band);
            m_breaks.append(band);
            used = 0;
        }
        used += wanted;
    }
    return sizeHint().height();
}

bool ReBar::event(QEvent* event)
{
    // A main window keeps prompts for its own status bar; a rebar has none
    // and passes them on to the window it stands in.
    if (event->type() == QEvent::StatusTip) {
        event->ignore();
        return false;
    }
    return QMainWindow::event(event);
}

// OleResizeBar

OleResizeBar::OleResizeBar() = default;

bool OleResizeBar::Create(QWidget* parent, int id)
{
    if (!parent)
        return false;
    setParent(parent);
    setControlId(this, id);
    setGeometry(parent->rect());
    parent->installEventFilter(this);
    setCursor(Qt::SizeFDiagCursor);
    lower(); // under the client area: only the border shows
    show();
    return true;
}

bool OleResizeBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return false;
}

void OleResizeBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QBrush hatch(palette().color(QPalette::Mid), Qt::BDiagPattern);
    const QRect r = rect();
    painter.fillRect(QRect(0, 0, r.width(), kBorder), hatch);
    painter.fillRect(QRect(0, r.height() - kBorder, r.width(), kBorder), hatch);
    painter.fillRect(QRect(0, 0, kBorder, r.height()), hatch);
    painter.fillRect(QRect(r.width() - kBorder, 0, kBorder, r.height()), hatch);
}

void OleResizeBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    m_pressed = event->globalPosition().toPoint();
    m_startSize = size();
}

void OleResizeBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    const QPoint delta = event->globalPosition().toPoint() - m_pressed;
    const QSize wanted(std::max(2 * kBorder + 16, m_startSize.width() + delta.x()),
                       std::max(2 * kBorder + 16, m_startSize.height() + delta.y()));
    emit sizeRequested(wanted);
}

void OleResizeBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

// OleDropTarget

bool OleDropTarget::Register(QWidget* window)
{
    if (!window)
        return false;
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    return true;
}

bool OleDropTarget::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // Ours to refuse: nothing reaches the window beneath.
        static_cast<QDropEvent*>(event)->ignore();
        return true;
    default:
        return false;
    }
}

// IPFrameWnd

IPFrameWnd::IPFrameWnd()
{
    setWindowFlag(Qt::FramelessWindowHint);
    // The container gives the size, however small; the frame never asks for more.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    onCommand(kIdViewToolBar, [this] {
        if (QWidget* bar = GetControlBar(kIdViewToolBar))
            bar->setVisible(!bar->isVisible());
    });
    onUpdateCommandUI(kIdViewToolBar, [this](framework::CmdUI& ui) {
        const QWidget* bar = GetControlBar(kIdViewToolBar);
        ui.Enable(bar != nullptr);
        ui.SetCheck(bar && !bar->isHidden() ? 1 : 0);
    });
}

IPFrameWnd::~IPFrameWnd()
{
    // The panes are the document frame's: they must not die with this frame.
    if (m_panes) {
        m_panes->hide();
        m_panes->setParent(nullptr);
    }
}

int IPFrameWnd::OnCreate(framework::CreateContext* context)
{
    if (framework::FrameWnd::OnCreate(context) == -1)
        return -1;
    // The in-place menu goes to the container's menu bar, not into the object's area.
    menuBar()->hide();
    return 0;
}

bool IPFrameWnd::OnCreateClient(framework::CreateContext* context)
{
    if (!context || !context->m_newView)
        return true;
    framework::View* view = context->m_newView(this);
    if (!view || !view->widget())
        return false;
    if (context->m_pCurrentDoc)
        context->m_pCurrentDoc->AddView(view);
    m_pFrameView = view;
    m_frameViewWidget = view->widget();
    setCentralWidget(view->widget());
    SetActiveView(view);
    return true;
}

bool IPFrameWnd::OnCreateControlBars(QWidget*, QWidget*)
{
    return true;
}

void IPFrameWnd::takePanes(QWidget* panes)
{
    if (QWidget* view = takeCentralWidget()) {
        // The view stays this frame's, behind the panes.
        view->setParent(this);
        view->hide();
    }
    m_panes = panes;
    setCentralWidget(panes);
    panes->show();
    // Each pane a window of its own, named after its class, so that window-tree
    // and automation tools see both panes inside the object's area. A click
    // in one then reaches that window, not ours: we ask the container for
    // the keyboard ourselves, as Qt does for a click on our own window.
    qApp->installEventFilter(this);
    for (QWidget* pane : panes->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!dynamic_cast<framework::View*>(pane))
            continue;
        pane->winId();
        if (QWindow* window = pane->windowHandle())
            window->setTitle(QString::fromLatin1(pane->metaObject()->className()));
    }
}

QWidget* IPFrameWnd::releasePanes()
{
    if (!m_panes || centralWidget() != m_panes)
        return nullptr;
    QWidget* panes = takeCentralWidget();
    m_panes = nullptr;
    return panes;
}

QMenuBar* IPFrameWnd::inPlaceMenu() const
{
    return qobject_cast<QMenuBar*>(menuWidget());
}

void IPFrameWnd::setControlBarHost(QWidget* host)
{
    if (m_barHost)
        m_barHost->removeEventFilter(this);
    m_barHost = host;
    if (host)
        host->installEventFilter(this);
}

int IPFrameWnd::layoutControlBars(int width)
{
    if (!m_barHost)
        return 0;
    const QList<ReBar*> rebars = m_barHost->findChildren<ReBar*>();
    for (ReBar* rebar : rebars)
        rebar->fitWidth(width);
    if (QLayout* layout = m_barHost->layout())
        layout->invalidate();
    return m_barHost->sizeHint().height();
}

QWidget* IPFrameWnd::GetControlBar(int id) const
{
    if (!m_barHost)
        return nullptr;
    const QList<QWidget*> bars =
        m_barHost->findChildren<QWidget*>(QString::number(id), Qt::FindChildrenRecursively);
    return bars.isEmpty() ? nullptr : bars.front();
}

void IPFrameWnd::requestSize(const QSize& size)
{
    if (m_resizeSink)
        m_resizeSink(size);
}

bool IPFrameWnd::eventFilter(QObject* watched, QEvent* event)
{
    // Qt counts a window inside a foreign one as active as soon as it is
    // shown, so it asks for nothing: every click asks the container.
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this && windowHandle())
        internal::requestEmbedderFocus(windowHandle());
    if (watched == m_barHost && event->type() == QEvent::StatusTip) {
        if (m_statusSink)
            m_statusSink(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return framework::FrameWnd::eventFilter(watched, event);
}

bool IPFrameWnd::OnCmdMsg(int id, framework::CommandKind kind, framework::CmdUI* ui)
{
    framework::View* active = GetActiveView();
    if (active && active->OnCmdMsg(id, kind, ui))
        return true;
    // The frame's own view answers what the panes do not (Escape's command).
    if (m_frameViewWidget && m_pFrameView != active && m_pFrameView->OnCmdMsg(id, kind, ui))
        return true;
    if (dispatchOwn(id, kind, ui))
        return true;
    // The document's frame carries the document's commands (and passes on
    // to the application).
    if (m_pDocFrame && m_pDocFrame != this)
        return m_pDocFrame->OnCmdMsg(id, kind, ui);
    framework::WinApp* app = framework::WinApp::instance();
    return app && app->OnCmdMsg(id, kind, ui);
}

} // namespace embedding

// The in-place frame: while the document is active inside a container it
// holds the document's panes in the object's area and owns the bars that
// stand on the container's frame. Commands of its menu, bars and keys go to
// the active pane, the frame's own view, itself, then the document's frame
// (where the document's commands live while it is not shown) and the
// application.
#pragma once

#include "framewnd.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>

class QMenuBar;
class QToolBar;

namespace embedding {

// The framework's standard identifiers the in-place frame knows.
inline constexpr int kIdViewToolBar = 59392; // also the toolbar's window identifier

// A bar's identifier, kept as its object name.
void setControlId(QWidget* widget, int id);
int controlId(const QWidget* widget);

// A rebar: bands side by side, each with a grip.
class ReBar : public QMainWindow
{
    Q_OBJECT

public:
    ReBar();
    // Becomes a child of `parent` (in its layout, where it has one) with identifier `id`.
    bool Create(QWidget* parent, int id);
    // Adds `bar` as a band: a tool bar becomes a band itself, any other bar
    // is put on one.
    bool AddBar(QWidget* bar);
    // Lays the bands out in `width`: side by side while they fit, a band that
    // does not fit starts a new row. Returns the height they then take.
    int fitWidth(int width);

protected:
    bool event(QEvent* event) override;

private:
    QList<QToolBar*> m_bands;
    QList<QToolBar*> m_breaks;
};

// The resize border around the in-place frame: dragging it asks the container
// for another size; the container decides and says so.
class OleResizeBar : public QWidget
{
    Q_OBJECT

public:
    OleResizeBar();
    bool Create(QWidget* parent, int id);
    static constexpr int kBorder = 4;

signals:
    void sizeRequested(const QSize& size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPoint m_pressed;
    QSize m_startSize;
    bool m_dragging = false;
};

// Takes drops on a window so that they do not fall through to the container
// beneath; it offers no drop effect of its own.
class OleDropTarget : public QObject
{
public:
    bool Register(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class IPFrameWnd : public framework::FrameWnd
{
    Q_OBJECT

public:
    IPFrameWnd();
    ~IPFrameWnd() override;

    // Makes the bars on `frameWindow`, the stand-in of the container's frame
    // window (a strip of it); `docWindow` stands for the container's document
    // window. False abandons the in-place activation.
    virtual bool OnCreateControlBars(QWidget* frameWindow, QWidget* docWindow);

    bool OnCmdMsg(int id, framework::CommandKind kind, framework::CmdUI* ui) override;

    // The in-place menu, which the container shows in its menu bar.
    QMenuBar* inPlaceMenu() const;
    // The bar with identifier `id` among the bars made on the container's frame.
    QWidget* GetControlBar(int id) const;

    // The framework's side: the document's frame, which lends the panes.
    void setDocumentFrame(framework::FrameWnd* frame) { m_pDocFrame = frame; }
    void setControlBarHost(QWidget* host);
    // Lays the bars out in the container's strip of `width` pixels; the
    // height they take of it.
    int layoutControlBars(int width);
    // Takes `panes` as the client area; the frame's own view stays behind them.
    void takePanes(QWidget* panes);
    // Gives the panes back (null when it holds none).
    QWidget* releasePanes();
    // Where fly-by prompts of the bars and size requests of the resize border go.
    void setStatusSink(std::function<void(const QString&)> sink) { m_statusSink = std::move(sink); }
    void setResizeSink(std::function<void(const QSize&)> sink) { m_resizeSink = std::move(sink); }
    void requestSize(const QSize& size);

protected:
    int OnCreate(framework::CreateContext* context) override;
    // The frame's own view: the template's view, made like any frame's.
    bool OnCreateClient(framework::CreateContext* context) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    framework::View* m_pFrameView = nullptr;
    QPointer<QWidget> m_frameViewWidget;
    QPointer<QWidget> m_panes;
    QPointer<framework::FrameWnd> m_pDocFrame;
    QPointer<QWidget> m_barHost;
    std::function<void(const QString&)> m_statusSink;
    std::function<void(const QSize&)> m_resizeSink;
};

} // namespace embedding

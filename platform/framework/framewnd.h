// Frame window: the main window that holds a document's views, its menus,
// toolbars and status bar, and routes commands to the active view, its
// document, itself and the application. Menu items get their update handlers
// run when their menu opens; toolbar buttons and status-bar panes when the
// event loop goes idle.
#pragma once

#include "command.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <vector>

class QLabel;
class QMenu;
class QToolBar;

namespace framework {

class Document;
class SingleDocTemplate;
class View;

// What a frame needs to make its views: the document and how to make the
// template's view.
struct CreateContext
{
    Document* m_pCurrentDoc = nullptr;
    SingleDocTemplate* m_pNewDocTemplate = nullptr;
    std::function<View*(QWidget* parent)> m_newView;
};

// Menu item flags, as the menu check and enable calls take them.
inline constexpr unsigned MF_ENABLED = 0x0;
inline constexpr unsigned MF_GRAYED = 0x1;
inline constexpr unsigned MF_DISABLED = 0x2;
inline constexpr unsigned MF_UNCHECKED = 0x0;
inline constexpr unsigned MF_CHECKED = 0x8;
inline constexpr unsigned kMenuStateNotFound = 0xFFFFFFFF;

// A status bar of panes identified by command ids; pane 0 (ID_SEPARATOR) is
// the message pane. A disabled pane shows no text.
class StatusBarPanes
{
public:
    void create(QMainWindow* frame, const std::vector<int>& ids,
                const std::function<QString(int)>& loadText);
    int paneCount() const { return int(m_panes.size()); }
    int idToIndex(int id) const;
    int paneId(int index) const;
    QLabel* pane(int index) const;
    void setPaneText(int index, const QString& text);
    QString paneText(int index) const;
    void setPaneEnabled(int index, bool enabled);
    void setPaneWidth(int index, int width);
    int paneWidth(int index) const;

private:
    struct Pane
    {
        int id;
        QLabel* label;
        QString text;
        bool enabled = true;
    };
    std::vector<Pane> m_panes;
};

class FrameWnd : public QMainWindow, public CommandTarget
{
    Q_OBJECT

public:
    explicit FrameWnd(QWidget* parent = nullptr);
    ~FrameWnd() override;

    // Creates the window from resource `resourceId` (menu, accelerators,
    // icon), then OnCreate, which makes the client area through
    // OnCreateClient. False when creation failed.
    bool LoadFrame(int resourceId, CreateContext* context);

    // Builds the menu bar from menu resource `id`; false when there is none.
    bool LoadMenu(int id);
    // Binds the keys of accelerator table `id` to their commands, in place
    // of the table bound before.
    void LoadAccelTable(int id);
    // Fills `bar` with the buttons of toolbar resource `id`: the same actions
    // as the menu items with those ids, with the toolbar bitmap's images.
    bool LoadToolBar(QToolBar* bar, int id);
    // The action that sends `id`, made when there is none yet.
    QAction* actionFor(int id);
    int resourceId() const { return m_nIDHelp; }

    View* GetActiveView() const;
    void SetActiveView(View* view);
    Document* GetActiveDocument() const;

    // Sends OnInitialUpdate to every view of the frame and, with
    // `makeVisible`, shows the frame.
    virtual void InitialUpdateFrame(Document* document, bool makeVisible);
    // Brings the frame forward.
    virtual void ActivateFrame();
    // Window title: the document's title, a dash and the application title.
    virtual void OnUpdateFrameTitle();

    // Routing: active view (and through it its document), the frame, the application.
    bool OnCmdMsg(int id, CommandKind kind, CmdUI* ui) override;

    // Commands from menus and toolbars. An action registered here sends `id`
    // when triggered and gets its enable, check and text state from the update
    // handlers: when its menu opens, or on idle if it sits on a toolbar.
    QAction* addCommandAction(QAction* action, int id);
    QAction* commandAction(int id) const;
    std::vector<QAction*> commandActions(int id) const;
    void watchMenu(QMenu* menu);

    // Menu item state by command id, in the menu flag encoding above.
    unsigned CheckMenuItem(int id, unsigned flags);
    unsigned EnableMenuItem(int id, unsigned flags);
    unsigned GetMenuState(int id) const;

    StatusBarPanes& statusPanes() { return m_statusPanes; }

    // Runs the update handlers of every menu item of `menu`.
    void updateMenuCommands(QMenu* menu);
    // Runs the update handlers of toolbar buttons and status-bar panes.
    void OnIdleUpdateCmdUI();

    // Sends command `id` along the route; true when something handled it.
    bool sendCommand(int id);
    // A command from a menu, button or key: carried out only when its update
    // handler does not disable it at this moment.
    void OnCommand(int id);

protected:
    virtual int OnCreate(CreateContext* context);
    virtual bool OnCreateClient(CreateContext* context);

    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    int m_nIDHelp = 0;

private:
    void trackFocus(QWidget* now);

    QPointer<QWidget> m_activeViewWidget;
    View* m_pActiveView = nullptr;
    std::multimap<int, QPointer<QAction>> m_actions;
    std::vector<QPointer<QAction>> m_accelActions; // bound by LoadAccelTable
    StatusBarPanes m_statusPanes;
    bool m_inIdleUpdate = false;
    QMetaObject::Connection m_focusConnection;
    QMetaObject::Connection m_idleConnection;
};

} // namespace framework

// Command routing: numeric command ids, the handlers that carry them out and
// the update handlers that decide whether a menu item, toolbar button or
// status-bar pane is enabled, checked and what it says.
#pragma once

#include <QString>
#include <functional>
#include <map>
#include <optional>

class QAction;
class QMenu;

namespace framework {

// What an update handler may change of one user-interface element. Only what
// the handler sets is applied; everything else keeps its current state.
class CmdUI
{
public:
    explicit CmdUI(int id, QAction* action = nullptr, QMenu* menu = nullptr)
        : m_nID(id), m_pAction(action), m_pMenu(menu)
    {
    }

    void Enable(bool on = true) { m_enabled = on; }
    // 0 unchecked, 1 checked (2, indeterminate, shows as checked).
    void SetCheck(int check = 1) { m_check = check; }
    void SetText(const QString& text) { m_text = text; }

    // Asks `target` for an update handler; when there is none and
    // `disableIfNoHandler` is set, the element is enabled exactly when a
    // command handler exists.
    bool DoUpdate(class CommandTarget* target, bool disableIfNoHandler);

    // Applies what the handler set to the element's action.
    void applyToAction() const;

    const int m_nID;
    QAction* const m_pAction;
    QMenu* const m_pMenu; // the menu the item stands in, or null
    const std::optional<bool>& enabled() const { return m_enabled; }
    const std::optional<int>& check() const { return m_check; }
    const std::optional<QString>& text() const { return m_text; }

private:
    std::optional<bool> m_enabled;
    std::optional<int> m_check;
    std::optional<QString> m_text;
};

enum class CommandKind
{
    Command,   // carry the command out
    Update,    // run its update handler
    HasHandler // only tell whether a command handler exists
};

// Something that handles commands: the application, a document, a view or a frame.
class CommandTarget
{
public:
    CommandTarget() = default;
    CommandTarget(const CommandTarget&) = delete;
    CommandTarget& operator=(const CommandTarget&) = delete;
    virtual ~CommandTarget();

    void onCommand(int id, std::function<void()> handler);
    void onCommandRange(int first, int last, std::function<void(int id)> handler);
    void onUpdateCommandUI(int id, std::function<void(CmdUI&)> handler);
    void onUpdateCommandUIRange(int first, int last, std::function<void(CmdUI&)> handler);

    // Routes one command, update or question. Returns true when some target
    // along the route handled it. Views pass on to their document, frames to
    // their active view, themselves and the application.
    virtual bool OnCmdMsg(int id, CommandKind kind, CmdUI* ui);

protected:
    // This target's own handlers only.
    bool dispatchOwn(int id, CommandKind kind, CmdUI* ui);

private:
    struct Range
    {
        int last;
        std::function<void(int)> command;
        std::function<void(CmdUI&)> update;
    };
    std::map<int, std::function<void()>> m_commands;
    std::map<int, std::function<void(CmdUI&)>> m_updates;
    std::map<int, Range> m_commandRanges; // keyed by first id
    std::map<int, Range> m_updateRanges;
};

} // namespace framework

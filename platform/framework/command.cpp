#include "command.h"

#include <QAction>

namespace framework {

bool CmdUI::DoUpdate(CommandTarget* target, bool disableIfNoHandler)
{
    const bool handled = target->OnCmdMsg(m_nID, CommandKind::Update, this);
    if (!handled && disableIfNoHandler && !m_enabled)
        Enable(target->OnCmdMsg(m_nID, CommandKind::HasHandler, nullptr));
    return handled;
}

void CmdUI::applyToAction() const
{
    if (!m_pAction)
        return;
    if (m_enabled)
        m_pAction->setEnabled(*m_enabled);
    if (m_check) {
        m_pAction->setCheckable(true);
        m_pAction->setChecked(*m_check != 0);
    }
    if (m_text)
        m_pAction->setText(*m_text);
}

CommandTarget::~CommandTarget() = default;

void CommandTarget::onCommand(int id, std::function<void()> handler)
{
    m_commands[id] = std::move(handler);
}

void CommandTarget::onCommandRange(int first, int last, std::function<void(int)> handler)
{
    m_commandRanges[first] = Range{last, std::move(handler), {}};
}

void CommandTarget::onUpdateCommandUI(int id, std::function<void(CmdUI&)> handler)
{
    m_updates[id] = std::move(handler);
}

void CommandTarget::onUpdateCommandUIRange(int first, int last, std::function<void(CmdUI&)> handler)
{
    m_updateRanges[first] = Range{last, {}, std::move(handler)};
}

bool CommandTarget::OnCmdMsg(int id, CommandKind kind, CmdUI* ui)
{
    return dispatchOwn(id, kind, ui);
}

bool CommandTarget::dispatchOwn(int id, CommandKind kind, CmdUI* ui)
{
    // The range whose first id is the greatest not above `id`, if it reaches `id`.
    auto findRange = [id](std::map<int, Range>& ranges) -> Range* {
        auto it = ranges.upper_bound(id);
        if (it == ranges.begin())
            return nullptr;
        --it;
        return id <= it->second.last ? &it->second : nullptr;
    };

    switch (kind) {
    case CommandKind::Command:
        if (auto it = m_commands.find(id); it != m_commands.end()) {
            // Copy first: the handler may replace itself.
            auto handler = it->second;
            handler();
            return true;
        }
        if (Range* range = findRange(m_commandRanges)) {
            auto handler = range->command;
            handler(id);
            return true;
        }
        return false;
    case CommandKind::HasHandler:
        return m_commands.contains(id) || findRange(m_commandRanges) != nullptr;
    case CommandKind::Update:
        if (!ui)
            return false;
        if (auto it = m_updates.find(id); it != m_updates.end()) {
            auto handler = it->second;
            handler(*ui);
            return true;
        }
        if (Range* range = findRange(m_updateRanges)) {
            auto handler = range->update;
            handler(*ui);
            return true;
        }
        return false;
    }
    return false;
}

} // namespace framework

// Message boxes with the application's title as caption. Tests replace the
// box by a hook that records the message, so that nothing waits for a click.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace framework {

// Shows `text` in a modal box with the given icon and an OK button; the
// caption is the application title. Returns the button pressed.
int AfxMessageBox(const QString& text, QMessageBox::Icon icon = QMessageBox::Warning);

using MessageBoxHook = std::function<int(const QString& text, QMessageBox::Icon icon)>;
// Installs `hook` in place of the real box; an empty hook restores it.
void setMessageBoxHook(MessageBoxHook hook);

} // namespace framework

#include "messagebox.h"

#include "framewnd.h"
#include "winapp.h"

namespace framework {
namespace {

MessageBoxHook& hook()
{
    static MessageBoxHook instance;
    return instance;
}

} // namespace

void setMessageBoxHook(MessageBoxHook newHook)
{
    hook() = std::move(newHook);
}

int AfxMessageBox(const QString& text, QMessageBox::Icon icon)
{
    if (hook())
        return hook()(text, icon);
    const WinApp* app = WinApp::instance();
    QMessageBox box(icon, app ? app->m_strAppName : QString(), text, QMessageBox::Ok,
                    app ? app->m_pMainWnd.data() : nullptr);
    return box.exec();
}

} // namespace framework

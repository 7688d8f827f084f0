#include "ipframe.h"

#include "mainfrm.h"

#include "menus.h"
#include "resource.h"
#include "stringtable.h"

#include <QAction>
#include <QToolBar>

namespace {

// The text of command `id` in the main menu, or its prompt's last part.
QString mainMenuText(int id)
{
    for (const res::MenuPopup& popup : res::menuResource(IDR_MAINFRAME)) {
        for (const res::MenuItem& item : popup.items) {
            if (item.id == id && item.text)
                return QString::fromUtf8(item.text);
        }
    }
    return res::loadString(id).section(QLatin1Char('\n'), -1);
}

} // namespace

CInPlaceFrame::CInPlaceFrame() = default;

CInPlaceFrame::~CInPlaceFrame() = default;

int CInPlaceFrame::OnCreate(framework::CreateContext* context)
{
    if (embedding::IPFrameWnd::OnCreate(context) == -1)
        return -1;
    m_wndResizeBar = new embedding::OleResizeBar;
    if (!m_wndResizeBar->Create(this, AFX_IDW_RESIZE_BAR))
        return -1;
    connect(m_wndResizeBar, &embedding::OleResizeBar::sizeRequested, this,
            [this](const QSize& size) { requestSize(size); });
    setContentsMargins(embedding::OleResizeBar::kBorder, embedding::OleResizeBar::kBorder,
                       embedding::OleResizeBar::kBorder, embedding::OleResizeBar::kBorder);
    m_dropTarget.Register(this);
    return 0;
}

bool CInPlaceFrame::OnCreateControlBars(QWidget* pWndFrame, QWidget*)
{
    // The toolbar's commands are this frame's: they come to the program.
    m_wndToolBar = new QToolBar(pWndFrame);
    embedding::setControlId(m_wndToolBar, AFX_IDW_TOOLBAR);
    m_wndToolBar->setWindowTitle(QStringLiteral("Toolbar"));
    if (!LoadToolBar(m_wndToolBar, IDR_SRVR_INPLACE))
        return false;
    // Buttons whose command has no menu item here are named as in the main menu.
    for (int id : res::toolbarButtons(IDR_SRVR_INPLACE)) {
        QAction* action = id == ID_SEPARATOR ? nullptr : commandAction(id);
        if (!action || !action->text().isEmpty())
            continue;
        action->setText(mainMenuText(id));
    }

    const res::DeviceBarTemplate* deviceBar = res::deviceBarTemplate(IDR_QORVELTYPE_SRVR_IP);
    if (!deviceBar)
        return false;
    m_wndDlgBar = new CDialogBar(pWndFrame, *deviceBar);
    embedding::setControlId(m_wndDlgBar, AFX_IDW_DIALOGBAR);

    m_wndReBar = new embedding::ReBar;
    if (!m_wndReBar->Create(pWndFrame, AFX_IDW_REBAR) || !m_wndReBar->AddBar(m_wndToolBar) ||
        !m_wndReBar->AddBar(m_wndDlgBar))
        return false;

    // Tool tips and fly-by prompts: the actions carry both; the device bar has none.
    m_wndToolBar->setToolTipDuration(-1);
    return true;
}

#include "mainfrm.h"

#include "resource.h"
#include "stringtable.h"

#include <QToolBar>

namespace {

// Status-bar panes: the message pane, the playback position, the key locks.
const std::vector<int> kIndicators{ID_SEPARATOR, ID_INDICATOR_POSITION, ID_INDICATOR_CAPS,
                                   ID_INDICATOR_NUM, ID_INDICATOR_SCRL};

} // namespace

CMainFrame::CMainFrame()
{
    // A first window that shows both panes and the whole status bar.
    resize(900, 600);
}

CMainFrame::~CMainFrame() = default;

int CMainFrame::OnCreate(framework::CreateContext* context)
{
    if (framework::FrameWnd::OnCreate(context) == -1)
        return -1;

    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("toolbar"));
    m_wndToolBar->setMovable(true);
    if (!LoadToolBar(m_wndToolBar, IDR_MAINFRAME))
        return -1;
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);

    statusPanes().create(this, kIndicators, [](int id) {
        return id == ID_SEPARATOR ? res::loadString(AFX_IDS_IDLEMESSAGE) : res::loadString(id);
    });
    return 0;
}

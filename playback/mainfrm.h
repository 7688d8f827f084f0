// The main window: the toolbar, the status bar with the playback position
// pane, and the transport commands.
#pragma once

#include "framewnd.h"

class QToolBar;

class CMainFrame : public framework::FrameWnd
{
    Q_OBJECT

public:
    CMainFrame();
    ~CMainFrame() override;

    QToolBar* m_wndToolBar = nullptr;

protected:
    int OnCreate(framework::CreateContext* context) override;
};

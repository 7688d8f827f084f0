// The in-place frame: while the document is active inside a container it
// holds the panes in the object's area and puts the in-place toolbar and the
// (empty) in-place device bar on the container's frame.
#pragma once

#include "ipframewnd.h"

class QToolBar;
class CDialogBar;

class CInPlaceFrame : public embedding::IPFrameWnd
{
    Q_OBJECT

public:
    CInPlaceFrame();
    ~CInPlaceFrame() override;

    bool OnCreateControlBars(QWidget* pWndFrame, QWidget* pWndDoc) override;

    QToolBar* m_wndToolBar = nullptr;
    CDialogBar* m_wndDlgBar = nullptr;
    embedding::ReBar* m_wndReBar = nullptr;
    embedding::OleDropTarget m_dropTarget;
    embedding::OleResizeBar* m_wndResizeBar = nullptr;

protected:
    int OnCreate(framework::CreateContext* context) override;
};

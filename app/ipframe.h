// The in-place frame: while the document is active inside a container it
// holds the panes in the object's area and puts the in-place toolbar and the
// (empty) in-place device bar on the container's frame. Play, Pause and Stop
// go to the transport, with the main window's rules for when they are
// enabled; Play Next File, which walks the file list, is the document's
// frame's, as every other command the frame does not carry.
#pragma once

#include "ipframewnd.h"

class QToolBar;
class CDialogBar;
class CTransport;

class CInPlaceFrame : public embedding::IPFrameWnd
{
    Q_OBJECT

public:
    explicit CInPlaceFrame(CTransport& transport);
    ~CInPlaceFrame() override;

    bool OnCreateControlBars(QWidget* pWndFrame, QWidget* pWndDoc) override;

    QToolBar* m_wndToolBar = nullptr;
    CDialogBar* m_wndDlgBar = nullptr;
    embedding::ReBar* m_wndReBar = nullptr;
    embedding::OleDropTarget m_dropTarget;
    embedding::OleResizeBar* m_wndResizeBar = nullptr;

protected:
    int OnCreate(framework::CreateContext* context) override;

private:
    bool hasFile() const;

    CTransport& m_transport;
    framework::Document* m_pDocument = nullptr;
};

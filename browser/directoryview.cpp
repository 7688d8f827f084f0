#include "directoryview.h"

#include <QHeaderView>

CDirectoryView::CDirectoryView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("directoryView"));
    header()->hide();
}

CDirectoryView::~CDirectoryView() = default;

void CDirectoryView::OnInitialUpdate()
{
    framework::View::OnInitialUpdate();
    InitTree();
}

void CDirectoryView::OnUpdate(framework::View*, std::intptr_t, QObject*)
{
    InitTree();
}

void CDirectoryView::InitTree()
{
    if (!m_bFirstUpdate)
        return;
    m_bFirstUpdate = false;
}

void CDirectoryView::RebuildTree()
{
    if (m_bFirstUpdate)
        return;
    ++m_rebuilds;
    setEnabled(false);
    clear();
    setEnabled(true);
}

#include "filesview.h"

CFilesView::CFilesView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("filesView"));
}

CFilesView::~CFilesView() = default;

void CFilesView::PlayNextFile() {}

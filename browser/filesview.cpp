#include "filesview.h"

CFilesView::CFilesView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("filesView"));
    setHeaderLabels({QStringLiteral("File Name"), QStringLiteral("Date"), QStringLiteral("Size")});
    setRootIsDecorated(false);
}

CFilesView::~CFilesView() = default;

void CFilesView::PlayNextFile() {}

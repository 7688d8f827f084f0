#include "brisoldeview.h"

#include "brisoldedoc.h"
#include "resource.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

CBrisoldeView::CBrisoldeView(QWidget* parent) : QWidget(parent)
{
    onCommand(ID_CANCEL_EDIT_SRVR, [this] { OnCancelEditSrvr(); });
    onCommand(ID_FILE_PRINT, [this] { OnFilePrint(false); });
    onCommand(ID_FILE_PRINT_DIRECT, [this] { OnFilePrint(true); });
    onCommand(ID_FILE_PRINT_PREVIEW, [this] { OnFilePrintPreview(); });
}

CBrisoldeView::~CBrisoldeView() = default;

void CBrisoldeView::OnDraw(QPainter*) {}

bool CBrisoldeView::OnPreparePrinting(QPrinter& printer)
{
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
}

void CBrisoldeView::OnCancelEditSrvr()
{
    // Escape while active in place: leave it, without undo.
    if (auto* document = dynamic_cast<CBrisoldeDoc*>(GetDocument()))
        document->OnDeactivateUI(false);
}

void CBrisoldeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    OnDraw(&painter);
}

void CBrisoldeView::OnFilePrint(bool direct)
{
    QPrinter printer;
    if (!direct && !OnPreparePrinting(printer))
        return;
    QPainter painter;
    if (!painter.begin(&printer))
        return;
    OnBeginPrinting(&painter, printer);
    OnDraw(&painter);
    OnEndPrinting(&painter, printer);
    painter.end();
}

void CBrisoldeView::OnFilePrintPreview()
{
    QPrinter printer;
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) {
        QPainter painter(p);
        OnDraw(&painter);
    });
    preview.exec();
}

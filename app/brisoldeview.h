// The document template's view. The main window shows the document through
// its two panes instead; this view serves frames that have none.
#pragma once

#include "document.h"

#include <QWidget>

class QPainter;
class QPrinter;

class CBrisoldeView : public QWidget, public framework::View
{
    Q_OBJECT

public:
    explicit CBrisoldeView(QWidget* parent = nullptr);
    ~CBrisoldeView() override;

    QWidget* widget() override { return this; }

    // Draws nothing: the document has no picture of its own.
    virtual void OnDraw(QPainter* painter);
    // The print dialog; false when the user cancelled it.
    virtual bool OnPreparePrinting(QPrinter& printer);
    virtual void OnBeginPrinting(QPainter*, QPrinter&) {}
    virtual void OnEndPrinting(QPainter*, QPrinter&) {}

    void OnCancelEditSrvr();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnFilePrint(bool direct);
    void OnFilePrintPreview();
};

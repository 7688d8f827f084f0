#include "srvritem.h"

#include "brisoldedoc.h"

#include "protocol.h"

#include <QPainter>

// The extent in 0.01 mm: a 30 mm square.
static constexpr int kExtent = 3000;

CBrisoldeSrvrItem::CBrisoldeSrvrItem(CBrisoldeDoc* pContainerDoc)
    : embedding::ServerItem(pContainerDoc, true)
{
}

CBrisoldeSrvrItem::~CBrisoldeSrvrItem() = default;

CBrisoldeDoc* CBrisoldeSrvrItem::GetDocument() const
{
    return static_cast<CBrisoldeDoc*>(embedding::ServerItem::GetDocument());
}

void CBrisoldeSrvrItem::Serialize(embedding::Archive& ar)
{
    // A link has nothing of its own; the embedded item is the document.
    if (!IsLinkedItem())
        GetDocument()->Serialize(ar);
}

bool CBrisoldeSrvrItem::OnDraw(QPainter* pDC, QSize&)
{
    // Logical units of 0.01 mm over the whole extent; nothing is drawn.
    pDC->setWindow(0, 0, kExtent, kExtent);
    return true;
}

bool CBrisoldeSrvrItem::OnGetExtent(int dwDrawAspect, QSize& rSize)
{
    if (dwDrawAspect != embedding::DVASPECT_CONTENT)
        return embedding::ServerItem::OnGetExtent(dwDrawAspect, rSize);
    rSize = QSize(kExtent, kExtent);
    return true;
}

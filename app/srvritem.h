// The server item: the document as a container sees it. It carries no data
// and draws nothing, so a container shows an empty 30 mm square.
#pragma once

#include "serveritem.h"

class CBrisoldeDoc;

class CBrisoldeSrvrItem : public embedding::ServerItem
{
public:
    explicit CBrisoldeSrvrItem(CBrisoldeDoc* pContainerDoc);
    ~CBrisoldeSrvrItem() override;

    CBrisoldeDoc* GetDocument() const;

    void Serialize(embedding::Archive& ar) override;
    bool OnDraw(QPainter* pDC, QSize& rSize) override;
    bool OnGetExtent(int dwDrawAspect, QSize& rSize) override;
};

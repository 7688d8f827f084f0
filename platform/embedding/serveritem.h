// The server item: the document as its container sees it - its size, its
// picture and its data.
#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QSize>

class QPainter;

namespace embedding {

class ServerDoc;

// The object's data on its way to or from the container.
class Archive
{
public:
    enum Mode
    {
        store,
        load
    };
    // Writes into `data` (store) or reads from it (load).
    Archive(QByteArray* data, Mode mode);

    bool IsStoring() const { return m_mode == store; }
    bool IsLoading() const { return m_mode == load; }
    QDataStream& stream() { return m_stream; }

private:
    Mode m_mode;
    QDataStream m_stream;
};

class ServerItem
{
public:
    // With `autoDelete` the framework deletes the item when the container
    // lets go of it.
    ServerItem(ServerDoc* document, bool autoDelete);
    virtual ~ServerItem();
    ServerItem(const ServerItem&) = delete;
    ServerItem& operator=(const ServerItem&) = delete;

    ServerDoc* GetDocument() const { return m_pDocument; }
    // Whether the item stands for a link rather than the document's own embedded item.
    bool IsLinkedItem() const;

    // Stores or loads the item's data; the base has none.
    virtual void Serialize(Archive& ar);
    // Draws the item into `size` (in 0.01 mm, the extent it gave).
    virtual bool OnDraw(QPainter* painter, QSize& size) = 0;
    // The item's size in 0.01 mm for the drawing aspect; the base knows no
    // size for any aspect (false), which the container hears as the error
    // org.tolvern.Brisolde.Error.NoExtent.
    virtual bool OnGetExtent(int drawAspect, QSize& size);

    bool m_bAutoDelete;

private:
    ServerDoc* m_pDocument;
};

} // namespace embedding

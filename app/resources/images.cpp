#include "images.h"

#include "resource.h"

#include <QFile>

namespace res {

const char* resourceRoot()
{
    return ":/brisolde";
}

QIcon loadIcon(int id)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("%1/icons/%2-%3.png")
                                 .arg(QLatin1String(resourceRoot()))
                                 .arg(id)
                                 .arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    return icon;
}

QPixmap loadBitmap(int id)
{
    return QPixmap(QStringLiteral("%1/bitmaps/%2.png").arg(QLatin1String(resourceRoot())).arg(id));
}

QList<QPixmap> splitStrip(const QPixmap& strip, int width)
{
    QList<QPixmap> images;
    if (width <= 0)
        return images;
    for (int x = 0; x + width <= strip.width(); x += width)
        images.append(strip.copy(x, 0, width, strip.height()));
    return images;
}

} // namespace res

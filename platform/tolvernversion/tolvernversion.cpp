#include "tolvernversion.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

QIcon moduleIcon(const QString& root, unsigned id)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("%1/icons/%2-%3.png").arg(root).arg(id).arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    return icon;
}

} // namespace

extern "C" int TolvernVersionAbout(void* owner, const char* instance, unsigned iconId,
                                   unsigned bitmapId)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return -1;

    const QString root = instance ? QString::fromUtf8(instance) : QString();
    const QString name = QCoreApplication::applicationName();
    const QString version = QCoreApplication::applicationVersion();

    QDialog box(static_cast<QWidget*>(owner));
    box.setObjectName(QStringLiteral("tolvernAbout"));
    box.setWindowTitle(QStringLiteral("About %1").arg(name));
    const QIcon icon = moduleIcon(root, iconId);
    box.setWindowIcon(icon);

    auto* iconLabel = new QLabel(&box);
    iconLabel->setObjectName(QStringLiteral("aboutIcon"));
    iconLabel->setPixmap(icon.pixmap(48, 48));

    auto* title = new QLabel(name, &box);
    title->setObjectName(QStringLiteral("aboutTitle"));
    title->setTextFormat(Qt::PlainText);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);

    auto* versionLabel = new QLabel(version.isEmpty() ? QStringLiteral("Version unknown")
                                                      : QStringLiteral("Version %1").arg(version),
                                    &box);
    versionLabel->setObjectName(QStringLiteral("aboutVersion"));
    versionLabel->setTextFormat(Qt::PlainText);

    auto* maker = new QLabel(QStringLiteral("Tolvern Midi Applications"), &box);
    maker->setTextFormat(Qt::PlainText);

    auto* picture = new QLabel(&box);
    picture->setObjectName(QStringLiteral("aboutPicture"));
    picture->setPixmap(QPixmap(QStringLiteral("%1/bitmaps/%2.png").arg(root).arg(bitmapId)));
    picture->setFixedSize(64, 64);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);

    auto* layout = new QGridLayout(&box);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setHorizontalSpacing(16);
    layout->addWidget(iconLabel, 0, 0, Qt::AlignCenter);
    layout->addWidget(title, 0, 1, Qt::AlignVCenter);
    layout->addWidget(picture, 1, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(versionLabel, 1, 1);
    layout->addWidget(maker, 2, 1, Qt::AlignTop);
    layout->addWidget(buttons, 3, 0, 1, 2);

    return box.exec();
}

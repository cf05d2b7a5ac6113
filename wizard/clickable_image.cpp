// The picture at the foot of the side panel: drawn as it is, a click reports itself.
#include "wizard/clickable_image.h"

#include <QMouseEvent>
#include <QPainter>

namespace ferrowane {

ClickableImage::ClickableImage(const QPixmap& pixmap, QWidget* parent)
    : QWidget(parent), m_pixmap(pixmap)
{
    setCursor(Qt::PointingHandCursor);
    setFixedSize(m_pixmap.size());
}

void ClickableImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_pixmap);
}

void ClickableImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

}  // namespace ferrowane

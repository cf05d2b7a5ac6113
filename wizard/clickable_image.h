// The picture at the foot of the side panel; a click on it asks for help.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace ferrowane {

class ClickableImage : public QWidget {
    Q_OBJECT

public:
    explicit ClickableImage(const QPixmap& pixmap, QWidget* parent = nullptr);
    QSize sizeHint() const override { return m_pixmap.size(); }
    const QPixmap& pixmap() const { return m_pixmap; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_pixmap;
};

}  // namespace ferrowane

#include "ui/app/splash.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace ostel::ui {

QPixmap program_picture(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 64.0;
    p.scale(s, s);
    // An aperture ring over a dark tile.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(38, 44, 58));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
    QLinearGradient g(0, 10, 0, 54);
    g.setColorAt(0, QColor(250, 190, 80));
    g.setColorAt(1, QColor(220, 90, 50));
    p.setBrush(g);
    p.drawEllipse(QPointF(32, 32), 21, 21);
    p.setBrush(QColor(38, 44, 58));
    p.drawEllipse(QPointF(32, 32), 11, 11);
    p.setBrush(QColor(120, 200, 240));
    p.drawEllipse(QPointF(28, 28), 3.5, 3.5);
    return pixmap;
}

namespace {

QPixmap splash_picture() {
    QPixmap pixmap(420, 220);
    pixmap.fill(QColor(38, 44, 58));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(24, 40, program_picture(112));
    QFont title = p.font();
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(245, 245, 245));
    p.drawText(QRect(156, 56, 250, 50), Qt::AlignLeft | Qt::AlignVCenter, "Ostel RAW");
    QFont caption = p.font();
    caption.setPixelSize(14);
    caption.setBold(false);
    p.setFont(caption);
    p.setPen(QColor(200, 205, 215));
    p.drawText(QRect(158, 110, 250, 24), Qt::AlignLeft | Qt::AlignVCenter, "Starting Ostel RAW...");
    return pixmap;
}

}  // namespace

Splash::Splash() : QSplashScreen(splash_picture()) {}

void Splash::setProgress(int percent) {
    progress_ = std::clamp(percent, 0, 100);
    repaint();
    QApplication::processEvents();
}

void Splash::drawContents(QPainter* painter) {
    QSplashScreen::drawContents(painter);
    const QRect bar(4, height() - 20, width() - 8, 16);
    painter->setPen(QColor(120, 126, 140));
    painter->setBrush(QColor(28, 32, 42));
    painter->drawRect(bar.adjusted(0, 0, -1, -1));
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(250, 170, 70));
    painter->drawRect(QRect(bar.x() + 2, bar.y() + 2, (bar.width() - 4) * progress_ / 100, bar.height() - 4));
}

}  // namespace ostel::ui

#include "loading_bar.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>

namespace {

constexpr int frameMilliseconds = 100;
constexpr int stepsPerSweep = 20;
constexpr int barHeight = 4;

} // namespace

LoadingBar::LoadingBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("progress"));
    setAccessibleName(tr("Loading"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize LoadingBar::sizeHint() const
{
    return {120, barHeight};
}

void LoadingBar::paintEvent(QPaintEvent *)
{
    ++m_frames;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0, (height() - barHeight) / 2.0, 0, -(height() - barHeight) / 2.0);
    QPainterPath path;
    path.addRoundedRect(track, barHeight / 2.0, barHeight / 2.0);
    painter.fillPath(path, palette().color(QPalette::Mid));
    // A third of the track sweeps from left to right and wraps.
    const qreal length = track.width() / 3;
    const qreal start = (track.width() + length) * m_step / stepsPerSweep - length;
    painter.setClipPath(path);
    painter.fillRect(QRectF(track.left() + start, track.top(), length, track.height()),
                     palette().color(QPalette::Highlight));
}

void LoadingBar::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QWidget::timerEvent(event);
    m_step = (m_step + 1) % (stepsPerSweep + 1);
    update();
}

void LoadingBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start(frameMilliseconds, Qt::CoarseTimer, this);
}

void LoadingBar::hideEvent(QHideEvent *event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

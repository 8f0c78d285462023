#pragma once

#include <QBasicTimer>
#include <QWidget>

// A thin indeterminate progress bar whose highlight steps along at a calm rate (ten frames a
// second, and only while it is shown), so a long load costs almost no repainting.
class LoadingBar : public QWidget {
    Q_OBJECT
public:
    explicit LoadingBar(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    // Repaints since construction; lets a test see that the rate stays calm.
    int frames() const { return m_frames; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QBasicTimer m_timer;
    int m_step = 0;
    int m_frames = 0;
};

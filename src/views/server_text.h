#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QString>

class QTextLayout;

// Text that comes from the server: always plain text, wrapped, and able to break inside a word
// that is wider than the room, so a long word cannot widen the window.
namespace serverText {

// A word-wrapped plain-text label. Words longer than a line get break opportunities; the
// accessible name keeps the text as received.
QLabel *label(const QString &text, QWidget *parent = nullptr);

// The text with zero-width break opportunities inside very long runs of non-space characters.
QString breakable(const QString &text);

} // namespace serverText

// Read-only, selectable plain text that wraps anywhere when a word does not fit and is as tall as
// its content. Copying gives the text exactly as received.
class SelectableServerText : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit SelectableServerText(const QString &text, QWidget *parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
};

// A word-wrapped plain-text label whose lines never end right after a hyphen between two letters,
// so a hyphenated word ("sign-in") moves to the next line whole; only a word wider than a line is
// broken where the text allows. The text is kept exactly: copying and screen readers get what was
// given, not a look-alike character.
class SentenceLabel : public QLabel {
    Q_OBJECT
public:
    explicit SentenceLabel(const QString &text, QWidget *parent = nullptr);

    // The text of each line when the label's contents are `width` pixels wide.
    QStringList lines(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Lays the text out at `width`; returns the height of the lines.
    qreal layOut(QTextLayout &layout, qreal width) const;
};

#include "server_text.h"

#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>
#include <QtMath>

namespace {

constexpr qsizetype longRun = 24; // runs up to this length wrap only at their ends
constexpr qsizetype breakEvery = 8;
constexpr QChar zeroWidthSpace(0x200B);

} // namespace

namespace serverText {

QString breakable(const QString &text)
{
    QString result;
    result.reserve(text.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !text[i].isSpace())
            continue;
        const QString run = text.mid(runStart, i - runStart);
        if (run.size() <= longRun) {
            result += run;
        } else {
            // Only between grapheme clusters, so a surrogate pair, an accent, a flag, a joined emoji
            // or a conjunct is never split over two lines.
            QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, run);
            qsizetype piece = 0;
            for (qsizetype at = clusters.toNextBoundary(); at != -1 && at < run.size();
                 at = clusters.toNextBoundary()) {
                if (at - piece < breakEvery)
                    continue;
                result += QStringView(run).mid(piece, at - piece);
                result += zeroWidthSpace;
                piece = at;
            }
            result += QStringView(run).mid(piece);
        }
        if (i < text.size())
            result += text[i];
        runStart = i + 1;
    }
    return result;
}

QLabel *label(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setText(breakable(text));
    label->setAccessibleName(text);
    return label;
}

} // namespace serverText

SelectableServerText::SelectableServerText(const QString &text, QWidget *parent) : QPlainTextEdit(parent)
{
    setPlainText(text);
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(0);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int SelectableServerText::heightForWidth(int width) const
{
    QTextDocument measure;
    measure.setDefaultFont(font());
    measure.setDocumentMargin(0);
    QTextOption option = measure.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    measure.setDefaultTextOption(option);
    measure.setPlainText(toPlainText());
    const QMargins margins = contentsMargins();
    measure.setTextWidth(qMax(1, width - margins.left() - margins.right()));
    return qCeil(measure.size().height()) + margins.top() + margins.bottom() + 2;
}

QSize SelectableServerText::sizeHint() const
{
    const int width = QPlainTextEdit::sizeHint().width();
    return QSize(width, heightForWidth(width));
}

QSize SelectableServerText::minimumSizeHint() const
{
    return QSize(fontMetrics().averageCharWidth() * 4, fontMetrics().height());
}

void SelectableServerText::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    const int wanted = heightForWidth(width());
    if (wanted != height())
        updateGeometry();
}

namespace {

// A break right after `hyphen` would split a word like "sign-in".
bool joinsLetters(const QString &text, qsizetype hyphen)
{
    return hyphen > 0 && hyphen + 1 < text.size() && text[hyphen] == u'-' && text[hyphen - 1].isLetter()
        && text[hyphen + 1].isLetter();
}

} // namespace

SentenceLabel::SentenceLabel(const QString &text, QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setText(text);
}

qreal SentenceLabel::layOut(QTextLayout &layout, qreal width) const
{
    const QString text = layout.text();
    QTextOption option(QStyle::visualAlignment(layoutDirection(), alignment()));
    option.setTextDirection(layoutDirection());
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.setFont(font());
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const qsizetype start = line.textStart();
        const qsizetype end = start + line.textLength();
        if (end < text.size() && joinsLetters(text, end - 1)) {
            qsizetype wordStart = end - 1;
            while (wordStart > start && !text[wordStart - 1].isSpace())
                --wordStart;
            if (wordStart > start) // the word fits on a line of its own: move it there whole
                line.setNumColumns(int(wordStart - start), width);
        }
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

QStringList SentenceLabel::lines(int width) const
{
    QTextLayout layout(text());
    layOut(layout, width);
    QStringList result;
    for (int i = 0; i < layout.lineCount(); ++i)
        result << text().mid(layout.lineAt(i).textStart(), layout.lineAt(i).textLength());
    return result;
}

int SentenceLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    QTextLayout layout(text());
    return qCeil(layOut(layout, qMax(1, width - margins.left() - margins.right()))) + margins.top()
        + margins.bottom();
}

QSize SentenceLabel::sizeHint() const
{
    const int width = QLabel::sizeHint().width();
    return QSize(width, heightForWidth(width));
}

QSize SentenceLabel::minimumSizeHint() const
{
    // The widest word, hyphenated words counted whole.
    int widest = 0;
    for (const QString &word : text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        widest = qMax(widest, fontMetrics().horizontalAdvance(word));
    const QMargins margins = contentsMargins();
    return QSize(widest + margins.left() + margins.right(), heightForWidth(widest + margins.left() + margins.right()));
}

void SentenceLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect box = contentsRect();
    QTextLayout layout(text());
    layOut(layout, box.width());
    painter.setPen(palette().color(foregroundRole()));
    layout.draw(&painter, box.topLeft());
}

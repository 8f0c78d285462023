#include "server_text.h"

#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QTextDocument>
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
        const QStringView run = QStringView(text).mid(runStart, i - runStart);
        if (run.size() <= longRun) {
            result += run;
        } else {
            qsizetype sinceBreak = 0;
            for (qsizetype j = 0; j < run.size(); ++j) {
                const bool insideCharacter = run[j].isLowSurrogate() || run[j].isMark();
                if (sinceBreak >= breakEvery && !insideCharacter) {
                    result += zeroWidthSpace;
                    sinceBreak = 0;
                }
                result += run[j];
                ++sinceBreak;
            }
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

#include "native_sign_in_view.h"

#include "server_text.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

constexpr int columnWidth = 440;   // widest the column grows
constexpr int columnPadding = 32;  // around the column
constexpr int itemSpacing = 24;    // between the items of the column
constexpr int groupSpacing = 8;    // between the address label and its field
constexpr int controlHeight = 34;  // large controls
constexpr int badgePadding = 18;   // around the icon
constexpr int badgeRadius = 20;

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QFont scaledFont(const QFont &base, qreal factor, bool bold)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

void makeSecondary(QWidget *widget)
{
    QPalette palette = widget->palette();
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.62);
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
}

// A label over an indeterminate progress bar, which is announced with the label's text.
QProgressBar *addProgress(const QString &text, QBoxLayout *layout, QWidget *parent)
{
    auto *row = new QVBoxLayout;
    row->setSpacing(groupSpacing);
    row->addWidget(plainLabel(text, parent));
    auto *bar = new QProgressBar(parent);
    bar->setAccessibleName(text);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumHeight(8);
    row->addWidget(bar);
    layout->addLayout(row);
    return bar;
}

// A small glyph drawn by hand so it looks the same on every desktop and theme.
void paintSymbol(QPainter &painter, const QString &name, const QRectF &box, const QColor &color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = box.width();
    QPen pen(color, qMax(1.5, s / 12.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (name == QLatin1String("calendar")) {
        const QRectF page = box.adjusted(s * 0.06, s * 0.12, -s * 0.06, -s * 0.04);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(page, s * 0.14, s * 0.14);
        QPainterPath header;
        header.addRoundedRect(page, s * 0.14, s * 0.14);
        QPainterPath band;
        band.addRect(QRectF(page.left(), page.top(), page.width(), page.height() * 0.26));
        painter.fillPath(header.intersected(band), color);
        painter.drawLine(QPointF(page.left() + page.width() * 0.28, box.top()),
                         QPointF(page.left() + page.width() * 0.28, page.top() + s * 0.08));
        painter.drawLine(QPointF(page.right() - page.width() * 0.28, box.top()),
                         QPointF(page.right() - page.width() * 0.28, page.top() + s * 0.08));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        const qreal dot = s * 0.1;
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 3; ++col)
                painter.drawEllipse(QRectF(page.left() + page.width() * (0.2 + 0.3 * col) - dot / 2,
                                           page.top() + page.height() * (0.5 + 0.27 * row) - dot / 2, dot, dot));
    } else if (name == QLatin1String("arrow.right")) {
        painter.setPen(pen);
        const qreal y = box.center().y();
        painter.drawLine(QPointF(box.left() + s * 0.15, y), QPointF(box.right() - s * 0.15, y));
        painter.drawLine(QPointF(box.right() - s * 0.15, y), QPointF(box.right() - s * 0.45, y - s * 0.3));
        painter.drawLine(QPointF(box.right() - s * 0.15, y), QPointF(box.right() - s * 0.45, y + s * 0.3));
    } else if (name == QLatin1String("exclamationmark.circle")) {
        painter.setPen(pen);
        painter.drawEllipse(box.adjusted(s * 0.08, s * 0.08, -s * 0.08, -s * 0.08));
        painter.drawLine(QPointF(box.center().x(), box.top() + s * 0.28), QPointF(box.center().x(), box.top() + s * 0.56));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(box.center().x(), box.top() + s * 0.72), s * 0.06, s * 0.06);
    } else {
        painter.setPen(pen);
        painter.drawRoundedRect(box.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1), s * 0.15, s * 0.15);
    }
    painter.restore();
}

QIcon symbolIcon(const QString &name, const QColor &color, int size, qreal dpr)
{
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paintSymbol(painter, name, QRectF(0, 0, size, size), color);
    return QIcon(pixmap);
}

// The prominent "Sign in" button: filled with the tint, its label followed by an arrow. Painted
// here rather than styled so it follows the tint of whichever window it is placed in.
class ProminentButton : public QPushButton {
public:
    ProminentButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
    {
        QFont bold = font();
        bold.setBold(true);
        setFont(bold);
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + metrics.height() + 40, qMax(controlHeight, metrics.height() + 14)};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
        QColor fill = palette().color(QPalette::Highlight);
        if (isDown())
            fill = fill.darker(125);
        else if (underMouse())
            fill = fill.lighter(108);
        painter.setPen(hasFocus() ? QPen(palette().color(QPalette::WindowText), 1.5) : QPen(Qt::NoPen));
        painter.setBrush(fill);
        painter.drawRoundedRect(frame, 7, 7);

        const QColor ink = palette().color(QPalette::HighlightedText);
        const QFontMetrics metrics(font());
        const int arrow = metrics.height() * 3 / 4;
        const int gap = 8;
        const int textWidth = metrics.horizontalAdvance(text());
        const qreal left = (width() - textWidth - gap - arrow) / 2.0;
        painter.setPen(ink);
        painter.drawText(QRectF(left, 0, textWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
        paintSymbol(painter, QStringLiteral("arrow.right"),
                    QRectF(left + textWidth + gap, (height() - arrow) / 2.0, arrow, arrow), ink);
    }
};

// A text link: the tint's link colour, underlined while the pointer is over it.
class LinkButton : public QPushButton {
public:
    LinkButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
    {
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 4, metrics.height() + 4};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QFont linkFont = font();
        linkFont.setUnderline(underMouse() || hasFocus());
        painter.setFont(linkFont);
        painter.setPen(palette().color(QPalette::Link));
        painter.drawText(rect().adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
};

// The verification code: keeps one line of its font while still empty, so the column does not move
// when the code arrives. Measured only when laid out, so its monospaced font is not loaded before
// the code is shown.
class CodeLabel : public QLabel {
public:
    explicit CodeLabel(QWidget *parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

    QSize sizeHint() const override { return QLabel::sizeHint().expandedTo({0, fontMetrics().height()}); }
    QSize minimumSizeHint() const override
    {
        return QLabel::minimumSizeHint().expandedTo({0, fontMetrics().height()});
    }
};

// The column of the view. It paints the icon badge itself, in a slot of its layout, so the
// decorative icon has no widget and stays out of the accessibility tree.
class SignInColumn : public QWidget {
public:
    SignInColumn(QString symbol, QWidget *parent) : QWidget(parent), m_symbol(std::move(symbol)) {}

    QSpacerItem *badgeSlot() const { return m_slot; }

    QSpacerItem *createSlot()
    {
        const int glyph = QFontMetrics(scaledFont(font(), 2.2, false)).height();
        const int side = glyph + 2 * badgePadding;
        m_slot = new QSpacerItem(side, side, QSizePolicy::Fixed, QSizePolicy::Fixed);
        return m_slot;
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!m_slot)
            return;
        const QColor tint = palette().color(QPalette::Highlight);
        QColor wash = tint;
        wash.setAlphaF(0.1);
        const QRectF badge = QRectF(QRect(m_slot->geometry().topLeft(), m_slot->sizeHint())).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(wash);
        painter.drawRoundedRect(badge, badgeRadius, badgeRadius);
        paintSymbol(painter, m_symbol, badge.adjusted(badgePadding, badgePadding, -badgePadding, -badgePadding), tint);
    }

private:
    QString m_symbol;
    QSpacerItem *m_slot = nullptr;
};

} // namespace

NativeConnection::OpenUrl NativeSignInView::desktopOpenUrl()
{
    return [](QUrl url) -> QCoro::Task<bool> { co_return QDesktopServices::openUrl(url); };
}

NativeSignInView::NativeSignInView(const QString &name, const QString &systemImage, NativeConnection &connection,
                                   NativeConnection::OpenUrl open, QWidget *parent)
    : QScrollArea(parent), m_connection(connection), m_open(std::move(open))
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("signInPage"));
    auto *pageLayout = new QHBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);

    auto *column = new SignInColumn(systemImage, page);
    column->setMaximumWidth(columnWidth + 2 * columnPadding);
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    pageLayout->addStretch(1);
    pageLayout->addWidget(column, 1000);
    pageLayout->addStretch(1);

    auto *stack = new QVBoxLayout(column);
    stack->setContentsMargins(columnPadding, columnPadding, columnPadding, columnPadding);
    stack->setSpacing(itemSpacing);
    stack->addItem(column->createSlot());
    stack->addSpacing(itemSpacing); // layouts add no spacing next to an empty slot

    auto *title = plainLabel(name, column);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(scaledFont(font(), 2.0, true));
    stack->addWidget(title);

    auto *tagline = plainLabel(tr("Your team, wherever you work."), column);
    tagline->setObjectName(QStringLiteral("tagline"));
    tagline->setWordWrap(true);
    makeSecondary(tagline);
    stack->addWidget(tagline);

    // Shown while the stored session is still being read: a locked keyring can keep that waiting
    // on its unlock prompt.
    m_restoring = new QWidget(column);
    m_restoring->setObjectName(QStringLiteral("restoring"));
    auto *restoringLayout = new QVBoxLayout(m_restoring);
    restoringLayout->setContentsMargins(0, 0, 0, 0);
    restoringLayout->setSpacing(itemSpacing);
    addProgress(tr("Opening your saved sign-in…"), restoringLayout, m_restoring);
    auto *unlockHint = new SentenceLabel(tr("If your system asks to unlock its keyring, unlock it to continue."),
                                         m_restoring);
    makeSecondary(unlockHint);
    restoringLayout->addWidget(unlockHint);
    stack->addWidget(m_restoring);

    m_form = new QWidget(column);
    m_form->setObjectName(QStringLiteral("addressForm"));
    auto *formLayout = new QVBoxLayout(m_form);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->setSpacing(itemSpacing);
    auto *group = new QVBoxLayout;
    group->setSpacing(groupSpacing);
    auto *addressLabel = plainLabel(tr("Server address"), m_form);
    addressLabel->setFont(scaledFont(font(), 1.0, true));
    m_address = new QLineEdit(m_form);
    m_address->setObjectName(QStringLiteral("serverAddress"));
    m_address->setAccessibleName(tr("Server address"));
    m_address->setPlaceholderText(tr("https://your-server"));
    m_address->setMinimumHeight(controlHeight);
    addressLabel->setBuddy(m_address);
    group->addWidget(addressLabel);
    group->addWidget(m_address);
    formLayout->addLayout(group);

    m_signIn = new ProminentButton(tr("Sign in"), m_form);
    m_signIn->setObjectName(QStringLiteral("signIn"));
    m_signIn->setDefault(true);
    m_signIn->setAutoDefault(true);
    formLayout->addWidget(m_signIn, 0, Qt::AlignLeft);
    stack->addWidget(m_form);

    m_waiting = new QWidget(column);
    m_waiting->setObjectName(QStringLiteral("waiting"));
    auto *waitingLayout = new QVBoxLayout(m_waiting);
    waitingLayout->setContentsMargins(0, 0, 0, 0);
    waitingLayout->setSpacing(itemSpacing);
    m_progress = addProgress(tr("Finish signing in in your browser"), waitingLayout, m_waiting);
    m_progress->setObjectName(QStringLiteral("progress"));

    m_code = new CodeLabel(m_waiting);
    m_code->setObjectName(QStringLiteral("code"));
    QFont codeFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    codeFont.setPointSizeF(font().pointSizeF() * 1.7);
    codeFont.setBold(true);
    m_code->setFont(codeFont);
    m_code->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    waitingLayout->addWidget(m_code);

    const QString compareText = tr("Compare this code with the one in your browser before approving sign-in.");
    auto *compare = new SentenceLabel(compareText, m_waiting);
    compare->setObjectName(QStringLiteral("compare"));
    makeSecondary(compare);
    waitingLayout->addWidget(compare);

    m_openAgain = new LinkButton(tr("Open browser again"), m_waiting);
    m_openAgain->setObjectName(QStringLiteral("openBrowserAgain"));
    waitingLayout->addWidget(m_openAgain, 0, Qt::AlignLeft);

    m_cancel = new QPushButton(tr("Cancel"), m_waiting);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setMinimumHeight(controlHeight);
    // Not a default button: Return must not cancel, not even a second press or the auto-repeat of
    // the Return that started sign-in. Space or a click does.
    m_cancel->setAutoDefault(false);
    waitingLayout->addWidget(m_cancel, 0, Qt::AlignLeft);
    stack->addWidget(m_waiting);

    m_error = new QWidget(column);
    m_error->setObjectName(QStringLiteral("signInError"));
    auto *errorRow = new QHBoxLayout(m_error);
    errorRow->setContentsMargins(0, 0, 0, 0);
    errorRow->setSpacing(6);
    const QColor red(0xC4, 0x2B, 0x1C);
    const int iconSide = QFontMetrics(font()).height();
    auto *errorIcon = plainLabel(QString(), m_error);
    errorIcon->setPixmap(symbolIcon(QStringLiteral("exclamationmark.circle"), red, iconSide, devicePixelRatioF())
                             .pixmap(iconSide, iconSide));
    errorIcon->setAlignment(Qt::AlignTop);
    m_errorText = plainLabel(QString(), m_error);
    m_errorText->setObjectName(QStringLiteral("errorText"));
    m_errorText->setWordWrap(true);
    m_errorText->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    QPalette errorPalette = m_errorText->palette();
    errorPalette.setColor(QPalette::WindowText, red);
    m_errorText->setPalette(errorPalette);
    errorRow->addWidget(errorIcon, 0, Qt::AlignTop);
    errorRow->addWidget(m_errorText, 1);
    stack->addWidget(m_error);
    stack->addStretch(1);

    connect(m_address, &QLineEdit::textEdited, &m_connection, &NativeConnection::setServerAddress);
    connect(m_address, &QLineEdit::returnPressed, this, &NativeSignInView::signIn);
    connect(m_signIn, &QPushButton::clicked, this, &NativeSignInView::signIn);
    connect(m_cancel, &QPushButton::clicked, &m_connection, &NativeConnection::cancel);
    connect(m_openAgain, &QPushButton::clicked, this, &NativeSignInView::openBrowserAgain);

    connect(&m_connection, &NativeConnection::serverAddressChanged, this, &NativeSignInView::syncAddress);
    for (auto signal : {&NativeConnection::restoringChanged, &NativeConnection::signingInChanged,
                        &NativeConnection::codeChanged, &NativeConnection::browserURLChanged,
                        &NativeConnection::errorChanged})
        connect(&m_connection, signal, this, &NativeSignInView::syncState);

    // Hide the parts of other states before the scroll area first measures the page, so that
    // nothing of them is laid out (or their fonts loaded) until they are shown.
    syncAddress();
    syncState();
    setWidget(page);
    setFocusProxy(m_address);
}

NativeSignInView::~NativeSignInView() = default;

void NativeSignInView::signIn()
{
    m_connection.signIn(m_open);
}

void NativeSignInView::openBrowserAgain()
{
    const QUrl url = m_connection.browserURL();
    if (url.isValid())
        m_open(url);
}

void NativeSignInView::syncAddress()
{
    const QString address = m_connection.serverAddress();
    if (m_address->text() != address)
        m_address->setText(address);
}

void NativeSignInView::syncState()
{
    const bool signingIn = m_connection.signingIn();
    const bool restoring = m_connection.restoring() && !signingIn;
    const bool formHadFocus = m_form->isAncestorOf(focusWidget());
    m_restoring->setVisible(restoring);
    m_form->setVisible(!signingIn && !restoring);
    m_waiting->setVisible(signingIn);
    m_code->setText(m_connection.code());
    m_openAgain->setVisible(m_connection.browserURL().isValid());
    const QString error = m_connection.error();
    m_errorText->setText(serverText::breakable(error));
    m_errorText->setAccessibleName(error);
    m_error->setVisible(!error.isEmpty());
    // Focus follows into the waiting block on the code, which can be copied from the keyboard,
    // not on "Cancel", so keys meant for the form do nothing there.
    if (signingIn && formHadFocus)
        m_code->setFocus();
    else if (!signingIn && m_waiting->isAncestorOf(focusWidget()))
        m_address->setFocus();
}

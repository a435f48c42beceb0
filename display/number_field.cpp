#include "display/number_field.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVariant>

namespace {
// The widest text of the format short of three-digit exponents: a sign,
// six digits, a point and a two-digit exponent with its sign. A longer text
// widens the field when it is set.
const char *const wideNumber = "-8.88888e+88";
// QLineEdit keeps this many pixels free on both sides of its text.
constexpr int lineEditTextMargin = 2;

QStyleOptionFrame frameOption(const QLineEdit *e)
{
    QStyleOptionFrame opt;
    opt.initFrom(e);
    opt.rect = e->contentsRect();
    opt.lineWidth
        = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    if (e->isReadOnly())
        opt.state |= QStyle::State_ReadOnly;
    opt.features = QStyleOptionFrame::None;
    return opt;
}
} // namespace

int lineEditWidthFor(const QLineEdit *e, const QString &text)
{
    // What the frame, the style's padding and the margins take from a field
    // of any width, as QLineEdit lays out its text when it paints.
    constexpr int probe = 400;
    QStyleOptionFrame opt = frameOption(e);
    opt.rect = QRect(0, 0, probe, qMax(e->height(), e->sizeHint().height()));
    const QRect inner = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e);
    const QMargins tm = e->textMargins();
    const int overhead = probe - inner.width() + tm.left() + tm.right() + 2 * lineEditTextMargin;
    return QFontMetrics(e->font()).horizontalAdvance(text) + overhead + 1; // and the cursor's pixel
}

namespace {
void widenFor(QLineEdit *e, const QString &text)
{
    const int w = lineEditWidthFor(e, text);
    if (e->maximumWidth() < w)
        e->setMaximumWidth(w);
    if (e->minimumWidth() < w)
        e->setMinimumWidth(w);
}
} // namespace

void fitNumberField(QLineEdit *e) { fitNumberField(e, QString::fromLatin1(wideNumber)); }

void fitNumberField(QLineEdit *e, const QString &typical)
{
    widenFor(e, typical);
    // The field keeps its size unless a text needs more.
    e->setMaximumWidth(e->minimumWidth());
    QObject::connect(e, &QLineEdit::textChanged, e, [e](const QString &t) { widenFor(e, t); });
}

bool showsWholeText(const QLineEdit *e)
{
    // The rectangle the text is laid out in, as QLineEdit computes it when
    // it paints; its cursor rectangle reflects the scrolling of that paint.
    QStyleOptionFrame opt = frameOption(e);
    opt.rect = e->rect();
    QRect r = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e);
    r = r.marginsRemoved(e->textMargins());
    r.adjust(lineEditTextMargin, 0, -lineEditTextMargin, 0);
    const QFontMetrics fm(e->font());
    const int textWidth = fm.horizontalAdvance(e->text());
    if (textWidth > r.width())
        return false;
    // The cursor stands after the last character: the text starts one text
    // width to its left, and must not start left of the visible part.
    const QRect c = e->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const int end = c.x() + c.width() / 2; // the cursor stands in the middle of its rectangle
    return e->cursorPosition() != e->text().size() || end - textWidth >= r.left() - 1;
}

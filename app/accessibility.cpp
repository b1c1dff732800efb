#include "app/accessibility.h"

#include <QImage>
#include <QLayout>
#include <QPainter>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocumentFragment>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavix {

void describeFromToolTips(QWidget *root)
{
    const auto widgets = root->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        if (!w->toolTip().isEmpty() && w->accessibleDescription().isEmpty())
            w->setAccessibleDescription(
                QTextDocumentFragment::fromHtml(w->toolTip()).toPlainText().trimmed());
    }
}

namespace {

void collectInScreenOrder(QWidget *w, QList<QWidget *> &chain)
{
    // A control takes the focus itself; anything else passes it on to what
    // it holds (a tab widget, for one, to its tab bar).
    if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy()) {
        chain.append(w);
        return;
    }
    QList<QWidget *> parts;
    if (auto *tabs = qobject_cast<QTabWidget *>(w)) {
        parts.append(tabs->tabBar());
        for (int i = 0; i < tabs->count(); ++i)
            parts.append(tabs->widget(i));
    } else if (auto *stack = qobject_cast<QStackedWidget *>(w)) {
        for (int i = 0; i < stack->count(); ++i)
            parts.append(stack->widget(i));
    } else {
        for (QObject *o : w->children()) {
            auto *child = qobject_cast<QWidget *>(o);
            if (child && !child->isWindow())
                parts.append(child);
        }
        std::stable_sort(parts.begin(), parts.end(), [](const QWidget *a, const QWidget *b) {
            const QRect ra = a->geometry(), rb = b->geometry();
            return std::make_pair(ra.top(), ra.left()) < std::make_pair(rb.top(), rb.left());
        });
        // A screen reader's review of the window goes by the order of the
        // children, which raising them in turn makes the screen's.
        for (QWidget *part : qAsConst(parts))
            part->raise();
    }
    for (QWidget *part : qAsConst(parts))
        collectInScreenOrder(part, chain);
}

double luminance(const QColor &c)
{
    const auto linear
        = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

// What a button's style paints its face in when its palette's button colour
// is colour, down the middle where the text stands, with the pointer off and
// on it. Styles lighten, shade or ignore that colour as they please.
QList<QColor> faceColours(const QWidget *button, const QColor &colour)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.palette.setCurrentColorGroup(QPalette::Active);
    option.palette.setBrush(QPalette::Button, colour);
    QList<QColor> colours;
    for (const QStyle::State pointer : { QStyle::State_None, QStyle::State_MouseOver }) {
        option.state
            = QStyle::State_Enabled | QStyle::State_Active | QStyle::State_Raised | pointer;
        QImage face(option.rect.size(), QImage::Format_RGB32);
        face.fill(button->palette().color(QPalette::Window));
        QPainter painter(&face);
        button->style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, button);
        painter.end();
        for (int y = face.height() / 4; y < face.height() * 3 / 4; ++y)
            colours.append(face.pixelColor(face.width() / 2, y));
    }
    return colours;
}

double leastContrast(const QList<QColor> &colours, const QColor &text)
{
    double least = 21;
    for (const QColor &c : colours)
        least = std::min(least, contrastRatio(c, text));
    return least;
}

} // namespace

void orderFocusAsOnScreen(QWidget *root)
{
    // Widgets in layouts get their places only when laid out, which the
    // toolkit otherwise leaves until they are first shown.
    const auto layouts = root->findChildren<QLayout *>();
    for (QLayout *layout : layouts)
        layout->activate();
    QList<QWidget *> chain;
    collectInScreenOrder(root, chain);
    for (int i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableShade(const QColor &hue, const QColor &background, const QWidget *button)
{
    const QColor hsl = hue.toHsl();
    const int step = textColourOn(background) == Qt::black ? -4 : 4;
    for (int l = hsl.lightness(); l >= 0 && l <= 255; l += step) {
        const QColor shade = QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), l);
        if (contrastRatio(shade, background) < min_contrast)
            continue;
        if (!button)
            return shade;
        const QList<QColor> face = faceColours(button, shade);
        if (leastContrast(face, background) >= min_contrast
            && std::max(leastContrast(face, Qt::black), leastContrast(face, Qt::white))
                >= min_contrast)
            return shade;
    }
    // A style that paints every face alike shows the colour only around it.
    return button ? readableShade(hue, background) : textColourOn(background);
}

QColor textColourOn(const QColor &background)
{
    const QColor black(Qt::black), white(Qt::white);
    return contrastRatio(black, background) >= contrastRatio(white, background) ? black : white;
}

QColor buttonTextColour(const QWidget *button, const QColor &colour)
{
    const QList<QColor> face = faceColours(button, colour);
    return leastContrast(face, Qt::black) >= leastContrast(face, Qt::white) ? QColor(Qt::black)
                                                                            : QColor(Qt::white);
}

} // namespace tavix

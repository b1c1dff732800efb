#pragma once

#include <QColor>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

// What screen readers and keyboard users get from the window's widgets,
// whichever page or tab they stand on. Each works on a widget tree as it is
// when called, so a page or tab added to the tree calls them again.
namespace tavix {

// The least contrast that text, and a coloured control that carries
// meaning, keep against what lies behind them (WCAG 2.1 AA).
constexpr double min_contrast = 4.5;

// Gives every widget under root that has a tooltip and no accessible
// description the tooltip's text without its markup, so that a screen
// reader never reads out or brailles the tags.
void describeFromToolTips(QWidget *root);

// Chains Tab through the widgets under root as they stand on screen: each
// widget's children by their top edge, then their left edge, a child that
// holds others as one block; the pages of a stacked or tab widget in page
// order after its tab bar. A widget hidden for now keeps its place for when
// it is shown.
void orderFocusAsOnScreen(QWidget *root);

// The WCAG 2.1 contrast ratio of two colours, 1 to 21.
double contrastRatio(const QColor &a, const QColor &b);

// The shade of hue, darker on a light background and lighter on a dark one,
// that reaches min_contrast against background. For a button, the face its
// style paints in that colour (lighter, in some styles) reaches it too, and
// carries black or white text at min_contrast.
QColor readableShade(const QColor &hue, const QColor &background, const QWidget *button = nullptr);

// Black or white, whichever reads better on background.
QColor textColourOn(const QColor &background);

// Black or white, whichever reads better on the face that button's style
// paints when colour is its palette's button colour.
QColor buttonTextColour(const QWidget *button, const QColor &colour);

} // namespace tavix

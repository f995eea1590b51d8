#pragma once
// How the fixed pixel layout meets screens of 125 % and more.

#include <QFont>
#include <QImage>
#include <QString>

class QWidget;

namespace kp33 {

// Whole device pixel ratios only, at 96 logical dots per inch; must run
// before the application object is made (the program's main() and every
// test that makes one).
void SetScaleRounding();

// The ratio a picture is composed at for a widget (1, 2 or 3 under the
// rounding above): one image pixel per device pixel.
int CompositionRatio(qreal devicePixelRatio);

// The resource picture drawn for the ratio (":/name@2x.png" beside
// ":/name.png"), set to show at the picture's logical size; the plain one
// where no variant was drawn for that ratio.
QImage PictureFor(const QString &resource, qreal devicePixelRatio);

// Where the text's ink ends, in layout pixels from its pen position, drawn
// at the ratio: the end of the last device column at least half covered
// (the lighter fringe of antialiasing does not count).
qreal InkRight(const QString &text, const QFont &font, int ratio);

// Text laid out at device resolution can run up to a pixel longer than at
// 100 %, where the layout was measured. At a ratio above 1 a left-aligned
// label, check box or radio button under root whose rectangle would cut its
// ink grows to the right to hold it; at ratio 1 each has its design width.
void FitTextsToRatio(QWidget *root, int ratio);

} // namespace kp33

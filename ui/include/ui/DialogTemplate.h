#pragma once

#include <QFont>
#include <QHash>
#include <QRect>
#include <QString>

class QWidget;

// Converts dialog units to pixels from the dialog's font, the way dialog templates are laid
// out: a horizontal unit is a quarter of the average letter width, a vertical unit an eighth
// of the font height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QRect ToPixels(const QRect& units) const;

private:
    int m_baseX;
    int m_baseY;
};

// The main window's template: caption, font, size and controls in tab order.
namespace DialogTemplate {

QString Caption();
QFont Font();
// The client area, in dialog units.
QRect ClientRect();

// Creates the template's controls as children of the dialog, in template order (which is the
// tab order), placed at their template rectangles; returns the controls that have an id.
QHash<int, QWidget*> CreateControls(QWidget* dialog);

} // namespace DialogTemplate

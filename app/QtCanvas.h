// The plots' canvas on a QPainter, with the drawing rules the renderer's numbers assume: a current
// position; LineTo with a one-pixel pen draws from it up to but not including its end point; a
// pen of width w covers w pixels across the line and, being a stroke with rounded ends, both
// of its end points; Rectangle outlines with the current pen the pixels from
// (left, top) to (right - 1, bottom - 1) and fills the inside white; text stands with its
// top-left corner at the given point on an opaque box of the background colour.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>

#include "Canvas.h"

class QPainter;

class QtCanvas final : public Canvas {
  public:
    QtCanvas(QPainter& painter, const QFont& textFont);

    // The font of labels drawn on the plots: bold, 15 pixels high, like the system font that a
    // window's paint device starts with.
    static QFont DefaultTextFont();

    void Rectangle(int left, int top, int right, int bottom) override;
    const Pen* SelectPen(const Pen* pen) override;
    void MoveTo(int x, int y) override;
    void LineTo(int x, int y) override;
    void SetBkColor(Colour colour) override;
    void SetTextColor(Colour colour) override;
    void TextOut(int x, int y, std::string_view text) override;

  private:
    // A w x w dot of the current pen centred on (x, y).
    void Dot(int x, int y, int width, const QColor& colour);
    // A line neither horizontal nor vertical, drawn as LineTo draws it.
    void SlantingLine(QPoint from, QPoint to, int width, const QColor& colour);

    QPainter& painter_;
    QFont font_;
    const Pen defaultPen_{1, Rgb(0, 0, 0)};
    const Pen* pen_ = &defaultPen_;
    int currentX_ = 0;
    int currentY_ = 0;
    QColor background_{255, 255, 255};
    QColor text_{0, 0, 0};
};

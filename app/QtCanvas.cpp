#include "QtCanvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

// Lines longer than this in either direction are clipped by the painter instead of being
// stepped pixel by pixel.
constexpr long long LongLine = 4096;

// Coordinates of straight runs are kept within a range that no window reaches and whose
// extents cannot overflow.
constexpr int ClipRange = 1 << 24;
int Clip(int value) {
    return std::clamp(value, -ClipRange, ClipRange);
}

// The pixels [first, last] of a straight run along one axis from `from` towards `to`: `from`
// always, `to` only when the pen covers its end point.
std::pair<int, int> RunSpan(int from, int to, bool endIncluded) {
    const int first = Clip(to > from ? from : (endIncluded ? to : to + 1));
    const int last = Clip(to > from ? (endIncluded ? to : to - 1) : from);
    return {first, last};
}

QColor ToQColor(Colour colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

}  // namespace

QtCanvas::QtCanvas(QPainter& painter, const QFont& textFont) : painter_(painter), font_(textFont) {}

QFont QtCanvas::DefaultTextFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

void QtCanvas::Dot(int x, int y, int width, const QColor& colour) {
    const int offset = width / 2;
    painter_.fillRect(x - offset, y - offset, width, width, colour);
}

void QtCanvas::Rectangle(int left, int top, int right, int bottom) {
    if (left > right) {
        std::swap(left, right);
    }
    if (top > bottom) {
        std::swap(top, bottom);
    }
    if (right - left < 1 || bottom - top < 1) {
        return;
    }
    painter_.fillRect(left, top, right - left, bottom - top, QColor(255, 255, 255));
    const int width = std::max(1, pen_->width);
    const QColor colour = ToQColor(pen_->colour);
    const int offset = width / 2;
    const int outerLeft = left - offset;
    const int outerTop = top - offset;
    const int outerWidth = right - 1 - left + width;
    const int outerHeight = bottom - 1 - top + width;
    painter_.fillRect(outerLeft, outerTop, outerWidth, width, colour);
    painter_.fillRect(outerLeft, bottom - 1 - offset, outerWidth, width, colour);
    painter_.fillRect(outerLeft, outerTop, width, outerHeight, colour);
    painter_.fillRect(right - 1 - offset, outerTop, width, outerHeight, colour);
}

const Pen* QtCanvas::SelectPen(const Pen* pen) {
    if (pen == nullptr) {
        return nullptr;
    }
    const Pen* previous = pen_;
    pen_ = pen;
    return previous;
}

void QtCanvas::MoveTo(int x, int y) {
    currentX_ = x;
    currentY_ = y;
}

void QtCanvas::LineTo(int x, int y) {
    const int x0 = currentX_;
    const int y0 = currentY_;
    currentX_ = x;
    currentY_ = y;
    const int width = std::max(1, pen_->width);
    const QColor colour = ToQColor(pen_->colour);
    const int offset = width / 2;
    // A one-pixel pen stops short of its end point, so that a polyline sets each joint once; a
    // wider pen is a stroke whose rounded ends are centred on both points and covers its end
    // point too (a 3-pixel bar ending at y = 79 reaches up to row 79).
    const bool endIncluded = width > 1;
    if (x0 == x && y0 == y) {
        if (endIncluded) {
            Dot(x, y, width, colour);
        }
    } else if (x0 == x) {
        const auto [first, last] = RunSpan(y0, y, endIncluded);
        painter_.fillRect(x0 - offset, first, width, last - first + 1, colour);
    } else if (y0 == y) {
        const auto [first, last] = RunSpan(x0, x, endIncluded);
        painter_.fillRect(first, y0 - offset, last - first + 1, width, colour);
    } else {
        SlantingLine(QPoint(x0, y0), QPoint(x, y), width, colour);
    }
}

void QtCanvas::SlantingLine(QPoint from, QPoint to, int width, const QColor& colour) {
    const bool endIncluded = width > 1;
    // A line reaching far off the window (a limit at an extreme level) is left to the painter,
    // which clips it.
    if (std::abs(static_cast<long long>(to.x()) - from.x()) > LongLine ||
        std::abs(static_cast<long long>(to.y()) - from.y()) > LongLine) {
        painter_.setPen(
            QPen(colour, width, Qt::SolidLine, endIncluded ? Qt::RoundCap : Qt::FlatCap));
        painter_.drawLine(from, to);
        return;
    }
    // Bresenham's steps from `from` up to `to`.
    const int dx = std::abs(to.x() - from.x());
    const int dy = -std::abs(to.y() - from.y());
    const int stepX = from.x() < to.x() ? 1 : -1;
    const int stepY = from.y() < to.y() ? 1 : -1;
    int error = dx + dy;
    QPoint at = from;
    while (at != to) {
        Dot(at.x(), at.y(), width, colour);
        const int doubled = 2 * error;
        if (doubled >= dy) {
            error += dy;
            at.rx() += stepX;
        }
        if (doubled <= dx) {
            error += dx;
            at.ry() += stepY;
        }
    }
    if (endIncluded) {
        Dot(to.x(), to.y(), width, colour);
    }
}

void QtCanvas::SetBkColor(Colour colour) {
    background_ = ToQColor(colour);
}

void QtCanvas::SetTextColor(Colour colour) {
    text_ = ToQColor(colour);
}

void QtCanvas::TextOut(int x, int y, std::string_view text) {
    const QString string = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QFontMetrics metrics(font_);
    painter_.fillRect(x, y, metrics.horizontalAdvance(string), metrics.height(), background_);
    painter_.setFont(font_);
    painter_.setPen(text_);
    painter_.drawText(x, y + metrics.ascent(), string);
}

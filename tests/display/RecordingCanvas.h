#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Canvas.h"

// A canvas that keeps every call, and the straight lines they produce, for comparison with the
// plot geometry worked out by hand.
class RecordingCanvas : public Canvas {
  public:
    enum class Kind { Rectangle, SelectPen, MoveTo, LineTo, BkColor, TextColor, Text, Marker };

    struct Op {
        Kind kind;
        int x = 0;
        int y = 0;
        int right = 0;
        int bottom = 0;
        const Pen* pen = nullptr;  // identity only: the renderer's pens die with the paint
        Colour colour{};
        std::string text;
        Pen penValue{};  // the pen in effect (or selected), copied when recorded
    };

    struct Line {
        int x1, y1, x2, y2;
        Pen pen;
    };

    const Pen defaultPen{1, Rgb(0, 0, 0)};
    const Pen* current = &defaultPen;
    int posX = 0;
    int posY = 0;
    std::vector<Op> ops;
    std::vector<Line> lines;

    void Rectangle(int left, int top, int right, int bottom) override {
        ops.push_back({Kind::Rectangle, left, top, right, bottom, current, {}, {}, *current});
    }
    const Pen* SelectPen(const Pen* pen) override {
        const Pen* previous = current;
        current = pen;
        ops.push_back({Kind::SelectPen, 0, 0, 0, 0, pen, {}, {}, pen ? *pen : Pen{}});
        return previous;
    }
    void MoveTo(int x, int y) override {
        posX = x;
        posY = y;
        ops.push_back({Kind::MoveTo, x, y, 0, 0, current, {}, {}, *current});
    }
    void LineTo(int x, int y) override {
        lines.push_back({posX, posY, x, y, *current});
        posX = x;
        posY = y;
        ops.push_back({Kind::LineTo, x, y, 0, 0, current, {}, {}, *current});
    }
    void SetBkColor(Colour colour) override {
        ops.push_back({Kind::BkColor, 0, 0, 0, 0, current, colour, {}, *current});
    }
    void SetTextColor(Colour colour) override {
        ops.push_back({Kind::TextColor, 0, 0, 0, 0, current, colour, {}, *current});
    }
    void TextOut(int x, int y, std::string_view text) override {
        ops.push_back({Kind::Text, x, y, 0, 0, current, {}, std::string(text), *current});
    }
    // Lets a fake host put its own calls into the same sequence.
    void Mark(std::string_view what) {
        ops.push_back({Kind::Marker, 0, 0, 0, 0, current, {}, std::string(what), *current});
    }

    void Clear() {
        current = &defaultPen;
        posX = 0;
        posY = 0;
        ops.clear();
        lines.clear();
    }

    std::vector<Op> OfKind(Kind kind) const {
        std::vector<Op> found;
        for (const Op& op : ops) {
            if (op.kind == kind) {
                found.push_back(op);
            }
        }
        return found;
    }
};

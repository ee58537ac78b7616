#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Canvas.h"

// A canvas that keeps every call, and the straight lines they produce, for comparison with the
// plot geometry worked out by hand.
class RecordingCanvas : public Canvas {
  public:
    enum class Kind { Rectangle, SelectPen, MoveTo, LineTo, BkColor, TextColor, Text, Marker };

    struct Op {
        Kind kind{};
        int x = 0;
        int y = 0;
        int right = 0;
        int bottom = 0;
        const Pen* pen = nullptr;  // identity only: the renderer's pens die with the paint
        Colour colour{};
        std::string text{};
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
        Record({Kind::Rectangle, left, top, right, bottom});
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
        Record({Kind::MoveTo, x, y});
    }
    void LineTo(int x, int y) override {
        lines.push_back({posX, posY, x, y, *current});
        posX = x;
        posY = y;
        Record({Kind::LineTo, x, y});
    }
    void SetBkColor(Colour colour) override { Record({.kind = Kind::BkColor, .colour = colour}); }
    void SetTextColor(Colour colour) override {
        Record({.kind = Kind::TextColor, .colour = colour});
    }
    void TextOut(int x, int y, std::string_view text) override {
        Record({.kind = Kind::Text, .x = x, .y = y, .text = std::string(text)});
    }
    // Lets a fake host put its own calls into the same sequence.
    void Mark(std::string_view what) { Record({.kind = Kind::Marker, .text = std::string(what)}); }

    void Clear() {
        current = &defaultPen;
        posX = 0;
        posY = 0;
        ops.clear();
        lines.clear();
    }

    // Stamps an operation with the pen in effect.
    void Record(Op op) {
        op.pen = current;
        op.penValue = *current;
        ops.push_back(std::move(op));
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

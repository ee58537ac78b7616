#pragma once

#include <cstdint>
#include <string_view>

// A colour as red, green and blue intensities 0..255.
struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend constexpr bool operator==(Colour, Colour) = default;
};

constexpr Colour Rgb(int red, int green, int blue) {
    return Colour{static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                  static_cast<std::uint8_t>(blue)};
}

// A solid pen. The renderer owns its pens for the length of one paint.
struct Pen {
    int width = 1;
    Colour colour{};
};

// The drawing surface of one paint, with the semantics of a window's paint device:
// a current position; LineTo draws from it to the end point and makes the end point current; a
// one-pixel pen leaves the end point out, a wider pen (a stroke with rounded ends) covers it;
// Rectangle outlines with the current pen and fills with white; text is placed by its top-left
// corner on an opaque box of the background colour. Before any SelectPen the canvas's own default
// pen (1 px black) is current.
class Canvas {
  public:
    virtual ~Canvas() = default;

    virtual void Rectangle(int left, int top, int right, int bottom) = 0;
    // Makes pen current and answers the pen it replaces (the canvas's default pen at first).
    virtual const Pen* SelectPen(const Pen* pen) = 0;
    virtual void MoveTo(int x, int y) = 0;
    virtual void LineTo(int x, int y) = 0;
    virtual void SetBkColor(Colour colour) = 0;
    virtual void SetTextColor(Colour colour) = 0;
    virtual void TextOut(int x, int y, std::string_view text) = 0;
};

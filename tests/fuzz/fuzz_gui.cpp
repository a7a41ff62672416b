// The GUI dialects without a terminal: the first byte picks the layout
// dialect (layout), the draw dialect (draw on an image) or rich text
// (rtd-layout, as data and as a face), and the rest picks words and values
// of that dialect from a fixed vocabulary, brackets balanced. Sizes stay
// small, and the code a layout runs has no loop word.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kLayout[] = {
    "button", "text", "field", "area", "base", "box", "panel", "group-box", "tab-panel", "check",
    "radio", "toggle", "progress", "slider", "scroller", "text-list", "drop-list", "drop-down",
    "rich-text", "h1", "image", "across", "below", "return", "space", "pad", "origin", "at",
    "title", "size", "style", "fz-s:", "fz-s", "left", "center", "right", "top", "middle", "bottom",
    "wrap", "no-wrap", "bold", "italic", "underline", "font-size", "font-color", "font-name",
    "data", "extra", "hidden", "disabled", "focus", "default", "select", "options", "loose",
    "all-over", "on-click", "on-down", "react", "with", "rate", "para", "font", "do", "\"A\"",
    "\"a longer text\"", "\"\"", "10x2", "1x1", "0x0", "-3x4", "5", "0", "50%", "red",
    "255.0.0", "1.5", "#\"x\"", "none", "true", "'a", "[\"a\" \"b\"]", "[", "]", "[", "]",
};

const char* const kDraw[] = {
    "pen", "fill-pen", "box", "line", "triangle", "circle", "ellipse", "font", "text", "line-width",
    "line-join", "line-cap", "line-pattern", "polygon", "anti-alias", "arc", "curve", "spline",
    "image", "shadow", "clip", "shape", "rotate", "scale", "translate", "skew", "transform",
    "matrix", "reset-matrix", "invert-matrix", "push", "on", "off", "closed", "linear", "radial",
    "pad", "repeat", "move", "close", "hline", "vline", "sweep", "large", "tile", "crop", "border",
    "replace", "intersect", "bitmap", "pattern", "miter", "round", "inset", "fz-img", "fz-font",
    "0x0", "3x3", "10x-2", "1", "2.5", "-1", "255.0.0", "0.0.255.128", "\"x\"", "none", "[", "]",
    "[", "]",
};

const char* const kRich[] = {
    "\"abc\"", "\"\"", "\"x^/y\"", "#\"x\"", "b", "/b", "i", "/i", "u", "/u", "s", "/s", "bold",
    "/bold", "italic", "/italic", "underline", "/underline", "strike", "/strike", "<b>", "</b>",
    "<i>", "</i>", "<u>", "</u>", "<s>", "</s>", "font", "/font", "\"Mono\"", "12", "0", "255.0.0",
    "red", "blue", "backdrop", "/backdrop", "b/i", "0.0.255", "none", "[", "]", "[", "]",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    static const bool ready = start_quiet("fz-font: make font! [size: 12] fz-img: make image! 4x3");
    (void)ready;
    // A layout is costly code (a few milliseconds a face under the
    // sanitizers) and CI runs each target a fixed number of times: a
    // quarter of the runs lay out up to 20 words; draw and rich text take
    // up to 63.
    if (size == 0 || size > 64) return 0;
    const uint8_t* p = data + 1;
    size_t n = size - 1;
    switch (data[0] % 8) {
        case 0:
        case 1:
            // (The window face is dropped: molding it would take most of the run.)
            eval("attempt [layout [" + tokens(p, n < 20 ? n : 20, kLayout) + "]] none");
            break;
        case 2:
        case 3:
        case 4: eval("attempt [draw fz-img [" + tokens(p, n, kDraw) + "]]"); break;
        default: {
            std::string rich = tokens(p, n, kRich);
            eval("attempt [rtd-layout/only [" + rich + "]] attempt [rtd-layout [" + rich + "]] none");
        }
    }
    return 0;
}

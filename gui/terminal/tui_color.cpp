// Colour words, the nearest indexed colour and the colour sequences.
#include "gui/terminal/tui_color.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zan::gui {

namespace {
// The 16 basic colours of the xterm palette.
const u32 kBasic[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                        0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                        0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
const u32 kCubeLevels[6] = {0, 95, 135, 175, 215, 255};

// Background and foreground parameters of the basic colours 0-17.
const char* const kBasicCodes[18][2] = {
    {"40", "30"},   {"41", "31"},   {"42", "32"},   {"43", "33"},   {"44", "34"},
    {"45", "35"},   {"46", "36"},   {"47", "37"},   {"0", "0"},     {"49", "39"},
    {"100", "90"},  {"101", "91"},  {"102", "92"},  {"103", "93"},  {"104", "94"},
    {"105", "95"},  {"106", "96"},  {"107", "97"}};

int cube_level(int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; }

long distance(u32 rgb, int r, int g, int b) {
    long dr = static_cast<long>((rgb >> 16) & 0xFF) - r;
    long dg = static_cast<long>((rgb >> 8) & 0xFF) - g;
    long db = static_cast<long>(rgb & 0xFF) - b;
    return dr * dr + dg * dg + db * db;
}
}  // namespace

u32 color_index_rgb(u32 index) {
    index &= 0xFF;
    if (index < 16) return kBasic[index];
    if (index < 232) {
        u32 i = index - 16;
        return (kCubeLevels[i / 36] << 16) | (kCubeLevels[(i / 6) % 6] << 8) | kCubeLevels[i % 6];
    }
    u32 grey = 8 + (index - 232) * 10;
    return (grey << 16) | (grey << 8) | grey;
}

u32 color_from_tuple(u32 rgba) {
    if ((rgba >> 24) == 255) return COLOR_DEFAULT;
    int r = static_cast<int>(rgba & 0xFF), g = static_cast<int>((rgba >> 8) & 0xFF),
        b = static_cast<int>((rgba >> 16) & 0xFF);
    u32 cube = static_cast<u32>(16 + 36 * cube_level(r) + 6 * cube_level(g) + cube_level(b));
    int average = (r + g + b) / 3;
    int step = average > 238 ? 23 : (average - 3) / 10;
    u32 grey = static_cast<u32>(232 + step);
    bool cube_wins = distance(color_index_rgb(cube), r, g, b) < distance(color_index_rgb(grey), r, g, b);
    return color_word(COLOR_MODE_INDEXED, cube_wins ? cube : grey);
}

void append_color(std::string& out, u32 color, bool foreground) {
    char text[32];
    u32 v = color & 0xFFFFFFu;
    switch (color_mode(color)) {
        case 0: std::snprintf(text, sizeof text, "%s", foreground ? "39" : "49"); break;
        case COLOR_MODE_BASIC:
            std::snprintf(text, sizeof text, "%s", (v & 0xFF) < 18 ? kBasicCodes[v & 0xFF][foreground] : "0");
            break;
        case COLOR_MODE_INDEXED:
            std::snprintf(text, sizeof text, "%s;5;%u", foreground ? "38" : "48", v & 0xFF);
            break;
        case COLOR_MODE_TRUE:
            std::snprintf(text, sizeof text, "%s;2;%u;%u;%u", foreground ? "38" : "48", (v >> 16) & 0xFF,
                          (v >> 8) & 0xFF, v & 0xFF);
            break;
        default: std::snprintf(text, sizeof text, "0"); break;
    }
    out += "\x1b[";
    out += text;
    out += 'm';
}

int color_mode_of(const char* colorterm, const char* term) {
    const char* ct = colorterm ? colorterm : "";
    const char* t = term ? term : "";
    if (std::strstr(ct, "24bit") || std::strstr(ct, "truecolor")) return 4;
    if (std::strstr(ct, "256") || std::strstr(t, "256")) return 2;
    return 4;
}

int color_mode_from_environment() { return color_mode_of(std::getenv("COLORTERM"), std::getenv("TERM")); }

}  // namespace zan::gui

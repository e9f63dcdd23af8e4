#include "io/layout.h"

#include <array>

namespace nrvq {

namespace {

constexpr std::array<PixelLayout, 8> kLayouts = {{
    {"yuv420p", "420jpeg", 1, 1, true, 8},
    {"yuv422p", "422", 1, 0, true, 8},
    {"yuv444p", "444", 0, 0, true, 8},
    {"gray", "mono", 0, 0, false, 8},
    {"yuv420p10le", "420p10", 1, 1, true, 10},
    {"yuv422p10le", "422p10", 1, 0, true, 10},
    {"yuv444p10le", "444p10", 0, 0, true, 10},
    {"gray10le", "mono10", 0, 0, false, 10},
}};

}  // namespace

std::span<const PixelLayout> pixelLayouts() { return kLayouts; }

const PixelLayout& defaultLayout() { return kLayouts[0]; }

const PixelLayout* findLayout(std::string_view name) {
    for (const PixelLayout& layout : kLayouts) {
        if (layout.name == name) {
            return &layout;
        }
    }
    return nullptr;
}

std::string layoutNames() {
    std::string names;
    for (const PixelLayout& layout : kLayouts) {
        names += (names.empty() ? "" : ", ") + std::string(layout.name);
    }
    return names;
}

}  // namespace nrvq

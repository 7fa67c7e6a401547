#include "platform/qt/MarkColours.h"

#include <cmath>

namespace {

constexpr uint32_t kUnmarked = 0xFFFFFF;

// One sRGB channel (0..1) as linear light.
double Linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour)
{
    return 0.2126 * Linear(colour.redF()) + 0.7152 * Linear(colour.greenF()) + 0.0722 * Linear(colour.blueF());
}

}  // namespace

QColor ReadableTextOn(const QColor& background)
{
    const double lum = Luminance(background);
    // Contrast ratios (L1 + 0.05) / (L2 + 0.05) against white and black.
    const double withWhite = 1.05 / (lum + 0.05);
    const double withBlack = (lum + 0.05) / 0.05;
    return withBlack >= withWhite ? QColor(Qt::black) : QColor(Qt::white);
}

MarkColours ColoursForMark(uint32_t bgr)
{
    if ((bgr & 0xFFFFFF) == kUnmarked)
        return {};
    const QColor background(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                            static_cast<int>((bgr >> 16) & 0xFF));
    return {background, ReadableTextOn(background)};
}

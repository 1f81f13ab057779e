#include "ispc/LightCorrection.h"

#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_LIGHTCORRECTION";
} // namespace

LightCorrection LightCorrection::operator+(const LightCorrection &other) const {
    LightCorrection sum;
    sum.sharpness = sharpness + other.sharpness;
    sum.saturation = saturation + other.saturation;
    sum.brightness = brightness + other.brightness;
    sum.contrast = contrast + other.contrast;
    sum.lightLevel = lightLevel + other.lightLevel;
    return sum;
}

LightCorrection LightCorrection::operator*(double factor) const {
    LightCorrection product;
    product.sharpness = sharpness * factor;
    product.saturation = saturation * factor;
    product.brightness = brightness * factor;
    product.contrast = contrast * factor;
    product.lightLevel = lightLevel * factor;
    return product;
}

LightCorrection LightCorrection::blend(const LightCorrection &other, double blendRatio) const {
    if (!(blendRatio >= 0.0 && blendRatio <= 1.0)) {
        QOR_LOG_ERROR(kTag, "Blend ratio value must be between 0.0 and 1.0 (received %f)\n", blendRatio);
        return LightCorrection();
    }
    return *this * (1.0 - blendRatio) + other * blendRatio;
}

} // namespace ISPC

#ifndef ISPC_LIGHTCORRECTION_H
#define ISPC_LIGHTCORRECTION_H

namespace ISPC {

/**
 * The image settings that apply at one light level: sharpening strength, and the saturation, brightness and
 * contrast of the RGB-to-YUV conversion. A plain value with the arithmetic of the interpolation between
 * configurations. Log tag "ISPC_LIGHTCORRECTION".
 */
class LightCorrection {
public:
    LightCorrection() : sharpness(0.4), saturation(1.0), brightness(0.0), contrast(1.0), lightLevel(0.0) {}

    /** Member-by-member sum of all five members. */
    LightCorrection operator+(const LightCorrection &other) const;
    /** All five members multiplied by factor. */
    LightCorrection operator*(double factor) const;
    /**
     * this x (1 - blendRatio) + other x blendRatio for 0 <= blendRatio <= 1; otherwise an error and the
     * default correction.
     */
    LightCorrection blend(const LightCorrection &other, double blendRatio) const;
    /** Order by light level only. */
    bool operator<(const LightCorrection &other) const { return lightLevel < other.lightLevel; }
    bool operator>(const LightCorrection &other) const { return lightLevel > other.lightLevel; }

    double sharpness;  /**< written to the sharpening module's fStrength */
    double saturation; /**< written to the RGB-to-YUV module's fSaturation */
    double brightness; /**< written to the RGB-to-YUV module's fBrightness */
    double contrast;   /**< written to the RGB-to-YUV module's fContrast */
    double lightLevel; /**< the light level at which this configuration applies */
};

} // namespace ISPC

#endif /* ISPC_LIGHTCORRECTION_H */

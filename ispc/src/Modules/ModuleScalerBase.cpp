#include "ispc/ModuleScalerBase.h"

#include <cstdint>

#include "norvacommon/userlog.h"

namespace ISPC {

const char *ModuleScalerBase::rectTypeName(ScalerRectType t) {
    switch (t) {
    case SCALER_RECT_CLIP:
        return "cliprect";
    case SCALER_RECT_CROP:
        return "croprect";
    case SCALER_RECT_SIZE:
        return "outsize";
    }
    return nullptr;
}

bool ModuleScalerBase::rectTypeOf(const std::string &text, ScalerRectType &t) {
    for (ScalerRectType k : {SCALER_RECT_CLIP, SCALER_RECT_CROP, SCALER_RECT_SIZE}) {
        if (text == rectTypeName(k)) {
            t = k;
            return true;
        }
    }
    return false;
}

QOR_RESULT ModuleScalerBase::computeOutput(const char *logName, const Texts &texts, QOR_UINT32 W, QOR_UINT32 H,
                                           double maxPitch, const QOR_UINT16 current[2], QOR_UINT32 &outW,
                                           QOR_UINT32 &outH) {
    const QOR_UINT32 image[2] = {W, H};
    const char *force[2] = {texts.forceWidth, texts.forceHeight};
    const char *tooBig[2] = {texts.widthTooBig, texts.heightTooBig};
    for (int d = 0; d < 2; d++) {
        if (!(aPitch[d] < 1.0)) {
            continue;
        }
        QOR_UINT32 &size = aRect[2 + d];
        if (size == 0) {
            LOG_Warning("setup", __LINE__, logName, "%s", force[d]);
            size = image[d];
        } else if (size > image[d]) {
            LOG_Error("setup", __LINE__, logName, tooBig[d], static_cast<int>(size), static_cast<int>(image[d]));
            return QOR_RES_FAILED;
        }
        if (eRectType != SCALER_RECT_SIZE) {
            LOG_Warning("setup", __LINE__, logName, "%s", texts.forceType);
            eRectType = SCALER_RECT_SIZE;
        }
        aPitch[d] = static_cast<double>(image[d]) / size;
        if (aPitch[d] > maxPitch) {
            LOG_Warning("setup", __LINE__, logName,
                        d == 0 ? "computed H pitch %lf too big, max %lf forced instead\n"
                               : "computed V pitch %lf too big, max %lf forced instead\n",
                        aPitch[d], maxPitch);
            aPitch[d] = maxPitch;
        }
    }
    // A clip or crop window must lie within the image: the differences below would otherwise wrap
    // into sizes of thousands of pixels.
    const uint64_t l = aRect[0], t = aRect[1], r = aRect[2], b = aRect[3];
    switch (eRectType) {
    case SCALER_RECT_CLIP:
        if (r < l || b < t || r > W || b > H) {
            LOG_Error("setup", __LINE__, logName, "clip rectangle %u %u %u %u outside the %ux%u image\n", aRect[0],
                      aRect[1], aRect[2], aRect[3], W, H);
            return QOR_RES_FAILED;
        }
        outW = static_cast<QOR_UINT32>((aRect[2] - aRect[0]) / aPitch[0]);
        outH = static_cast<QOR_UINT32>((aRect[3] - aRect[1]) / aPitch[1]);
        break;
    case SCALER_RECT_CROP:
        if (l + r > W || t + b > H) {
            LOG_Error("setup", __LINE__, logName, "crop margins %u %u %u %u outside the %ux%u image\n", aRect[0],
                      aRect[1], aRect[2], aRect[3], W, H);
            return QOR_RES_FAILED;
        }
        outW = static_cast<QOR_UINT32>((W - aRect[0] - aRect[2]) / aPitch[0]);
        outH = static_cast<QOR_UINT32>((H - aRect[1] - aRect[3]) / aPitch[1]);
        break;
    case SCALER_RECT_SIZE:
        outW = aRect[2];
        outH = aRect[3];
        break;
    default:
        outW = current[0];
        outH = current[1];
        break;
    }
    return QOR_RES_OK;
}

} // namespace ISPC

#include "ispc/ModuleR2YBase.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_MOD_R2Y";

/* Rows Y, Cb, Cr of each standard over (R, G, B). */
const double kRgbToYcc[2][3][3] = {
    {{0.299, 0.587, 0.114}, {-0.1687, -0.3313, 0.5}, {0.5, -0.4187, -0.0813}},
    {{0.2126, 0.7152, 0.0722}, {-0.1146, -0.3854, 0.5}, {0.5, -0.4542, -0.0458}},
};

/* kR (R from Cr), kB (B from Cb), gB and gR (G from Cb and Cr, as fractions of kB and kR). */
struct YccToRgb {
    double kR, kB, gB, gR;
};
const YccToRgb kYccToRgb[2] = {
    {1.402, 1.772, -0.1942078, -0.5093697},
    {1.5748, 1.8556, -0.1009508, -0.2972595},
};

void swapColumns(double (&m)[3][3]) {
    for (auto &row : m) {
        std::swap(row[0], row[2]);
    }
}

void swapRows(double (&m)[3][3]) {
    for (int j = 0; j < 3; j++) {
        std::swap(m[0][j], m[2][j]);
    }
}
} // namespace

bool ModuleR2YBase::isCbFirst(ePxlFormat encoder) {
    return encoder == YUV_420_PL12_8 || encoder == YUV_422_PL12_8 || encoder == YUV_420_PL12_10 ||
           encoder == YUV_422_PL12_10;
}

const char *ModuleR2YBase::stdMatrixName(StdMatrix std) {
    switch (std) {
    case BT601:
        return "BT601";
    case BT709:
        return "BT709";
    case JFIF:
        return "JFIF";
    }
    return "UNKNOWN";
}

ModuleR2YBase::StdMatrix ModuleR2YBase::stdIndex(const char *name) {
    for (int s = STD_MIN; s < STD_MAX; s++) {
        if (std::strcmp(name, stdMatrixName(static_cast<StdMatrix>(s))) == 0) {
            return static_cast<StdMatrix>(s);
        }
    }
    return BT601;
}

QOR_RESULT ModuleR2YBase::configure(MC_PLANECONV &plane, bool bSwapInput, bool bSwapOutput) const {
    // The hue constant is the one the register images were made with, not the full-precision pi.
    const double theta = ((fHue + fHue) * 3.14159265358) / 360;
    const double cosT = std::cos(theta), sinT = std::sin(theta);
    const double c = fContrast;
    const double cDiv = c == 0.0 ? 1.0 : c;
    const double s = fSaturation;
    const double m0 = aRangeMult[0], m1 = aRangeMult[1], m2 = aRangeMult[2];

    switch (plane.eType) {
    case RGB_TO_YCC: {
        if (eMatrix != BT601 && eMatrix != BT709) {
            QOR_LOG_ERROR(kTag, "Invalid matrix conversion format: %d\n", static_cast<int>(eMatrix));
            return QOR_RES_UNAVAILABLE;
        }
        if (bSwapInput) {
            QOR_LOG_WARNING(kTag, "Swapping input to R2Y has no effects!\n");
        }
        const double(&std)[3][3] = kRgbToYcc[eMatrix];
        const int crRow = bSwapOutput ? 2 : 0, cbRow = bSwapOutput ? 0 : 2;
        for (int k = 0; k < 3; k++) {
            plane.aCoeff[1][k] = std[0][k] * c * m0;
            plane.aCoeff[crRow][k] = (std[2][k] * cosT - std[1][k] * sinT) * c * s * m2;
            plane.aCoeff[cbRow][k] = (std[1][k] * cosT + std[2][k] * sinT) * c * s * m1;
        }
        plane.aOffset[crRow] = fOffsetU * 256;
        plane.aOffset[1] = fBrightness * 256;
        plane.aOffset[cbRow] = fOffsetV * 256;
        return QOR_RES_OK;
    }
    case YCC_TO_RGB: {
        if (eMatrix != BT601 && eMatrix != BT709) {
            QOR_LOG_ERROR(kTag, "Invalid matrix conversion format: %d\n", static_cast<int>(eMatrix));
            return QOR_RES_NOT_SUPPORTED;
        }
        const YccToRgb &k = kYccToRgb[eMatrix];
        const double MR = m2 * k.kR, MB = m1 * k.kB, cs = c * s;
        double m[3][3] = {
            {cs * MR * cosT, c * m0, -cs * MR * sinT},
            {cs * (k.gR * MR * cosT + k.gB * MB * sinT), c * m0, cs * (k.gB * MB * cosT - k.gR * MR * sinT)},
            {cs * MB * sinT, c * m0, cs * MB * cosT},
        };
        // The offsets belong to the outputs: exchanging the chroma inputs leaves them in place, and
        // exchanging the R and B outputs exchanges them with their rows.
        double off[3] = {fOffsetU * 256, fBrightness / cDiv * 256 - 16, fOffsetV * 256};
        if (bSwapInput) {
            swapColumns(m);
        }
        if (bSwapOutput) {
            swapRows(m);
            std::swap(off[0], off[2]);
        }
        std::memcpy(plane.aCoeff, m, sizeof(m));
        std::memcpy(plane.aOffset, off, sizeof(off));
        return QOR_RES_OK;
    }
    case YCC_TO_YCC: {
        const double direct[3][3] = {{0, 0, m2}, {m1, 0, 0}, {0, m0, 0}};
        const double swapped[3][3] = {{m2, 0, 0}, {0, 0, m1}, {0, m0, 0}};
        std::memcpy(plane.aCoeff, bSwapOutput ? swapped : direct, sizeof(direct));
        plane.aOffset[0] = 0;
        plane.aOffset[1] = fBrightness / cDiv * 256;
        plane.aOffset[2] = 0;
        return QOR_RES_OK;
    }
    }
    QOR_LOG_ERROR(kTag, "Invalid plane value\n");
    return QOR_RES_INVALID_PARAM;
}

namespace r2y_detail {

QOR_RESULT readMatrix(const ParamDefSingle<std::string> &def, const ParameterList &list, const char *logName,
                      ModuleR2YBase::StdMatrix &out) {
    const std::string name = list.getParameterString(def.name, 0, def.def);
    if (name == "BT601") {
        out = ModuleR2YBase::BT601;
    } else if (name == "BT709") {
        out = ModuleR2YBase::BT709;
    } else {
        LOG_Error("load", __LINE__, logName, "Invalid matrix conversion format: '%s'\n", name.c_str());
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

void saveMatrix(const ParamDefSingle<std::string> &def, ModuleR2YBase::StdMatrix value, ParameterList &list,
                ModuleBase::SaveType t) {
    if (t == ModuleBase::SAVE_VAL) {
        // Every named standard is written (a load takes only BT601 and BT709); a value without a name is not.
        if (value >= ModuleR2YBase::STD_MIN && value <= ModuleR2YBase::STD_MAX) {
            list.addParameter(def, std::string(ModuleR2YBase::stdMatrixName(value)), true);
        }
        return;
    }
    saveParameter(list, t, def, def.def);
    Parameter *p = list.getParameter(def.name);
    if (t == ModuleBase::SAVE_DEF && p != nullptr) {
        p->setInfo("{BT601, BT709, JFIF}");
    }
}

} // namespace r2y_detail

} // namespace ISPC

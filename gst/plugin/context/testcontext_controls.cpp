// Runtime settings the element applies through the main context's control loops: each reaches the control found
// under its identifier and takes effect at the control's next update after a shot.
#include "ispc/ControlAE.h"
#include "ispc/ControlAF.h"
#include "ispc/ControlAWB.h"
#include "testcontext.h"

namespace {

/** Calls the setter on the control when there is one; false otherwise. */
template <class C, class F> bool onControl(C *c, F &&set) {
    if (c == nullptr)
        return false;
    set(*c);
    return true;
}

} // namespace

bool TestContext::enableAutoExposure(bool enable) {
    return onControl(control<ISPC::ControlAE>(), [enable](ISPC::ControlAE &ae) {
        ae.enableControl(true);
        ae.enableCorrection(enable);
    });
}

bool TestContext::setAeTargetBrightness(double value) {
    // Compared with the current target, not with the measured brightness: a target that happens to equal what
    // the last frame measured is still a new target.
    return onControl(control<ISPC::ControlAE>(), [value](ISPC::ControlAE &ae) {
        if (ae.getTargetBrightness() != value)
            ae.setTargetBrightness(value);
    });
}

double TestContext::getAeTargetBrightness() const {
    const ISPC::ControlAE *ae = control<ISPC::ControlAE>();
    return ae != nullptr ? ae->getTargetBrightness() : 0.0;
}

double TestContext::getAeCurrentBrightness() const {
    const ISPC::ControlAE *ae = control<ISPC::ControlAE>();
    return ae != nullptr ? ae->getCurrentBrightness() : 0.0;
}

bool TestContext::setMinAeGain(double gain) {
    return onControl(control<ISPC::ControlAE>(), [gain](ISPC::ControlAE &ae) { ae.setMinAeGain(gain); });
}

bool TestContext::setMaxAeGain(double gain) {
    return onControl(control<ISPC::ControlAE>(), [gain](ISPC::ControlAE &ae) { ae.setMaxAeGain(gain); });
}

bool TestContext::setTargetAeGain(double gain) {
    return onControl(control<ISPC::ControlAE>(), [gain](ISPC::ControlAE &ae) { ae.setTargetAeGain(gain); });
}

bool TestContext::setMinAeExposure(unsigned microseconds) {
    return onControl(control<ISPC::ControlAE>(),
                     [microseconds](ISPC::ControlAE &ae) { ae.setMinAeExposure(microseconds); });
}

bool TestContext::setMaxAeExposure(unsigned microseconds) {
    return onControl(control<ISPC::ControlAE>(),
                     [microseconds](ISPC::ControlAE &ae) { ae.setMaxAeExposure(microseconds); });
}

bool TestContext::setTargetExposureTime(unsigned microseconds) {
    return onControl(control<ISPC::ControlAE>(),
                     [microseconds](ISPC::ControlAE &ae) { ae.setTargetExposureTime(microseconds); });
}

bool TestContext::enableFlickerRejection(bool enable, double frequency) {
    return onControl(control<ISPC::ControlAE>(),
                     [enable, frequency](ISPC::ControlAE &ae) { ae.enableFlickerRejection(enable, frequency); });
}

double TestContext::getFlickerRejectionFrequency() const {
    const ISPC::ControlAE *ae = control<ISPC::ControlAE>();
    return ae != nullptr ? ae->getFlickerRejectionFrequency() : 0.0;
}

bool TestContext::enableAutoFlickerRejection(bool enable) {
    return onControl(control<ISPC::ControlAE>(),
                     [enable](ISPC::ControlAE &ae) { ae.enableAutoFlickerRejection(enable); });
}

bool TestContext::enableBlcAuto(bool enable) {
    return onControl(control<ISPC::ControlAE>(), [enable](ISPC::ControlAE &ae) { ae.enableBlcAuto(enable); });
}

bool TestContext::setBlcLevel(double level) {
    return onControl(control<ISPC::ControlAE>(), [level](ISPC::ControlAE &ae) { ae.setBlcLevel(level); });
}

double TestContext::getBlcLevel() const {
    const ISPC::ControlAE *ae = control<ISPC::ControlAE>();
    return ae != nullptr ? ae->getBlcLevel() : 0.0;
}

double TestContext::getAeApertureFactor() const {
    const ISPC::ControlAE *ae = control<ISPC::ControlAE>();
    return ae != nullptr ? ae->getApertureFactor() : 0.0;
}

void TestContext::updateFNumber(const ISPC::FNumberStatus &status) {
    (void)onControl(control<ISPC::ControlAE>(), [&status](ISPC::ControlAE &ae) { ae.updateFNumber(status); });
}

void TestContext::setWavelength(double wavelength) {
    (void)onControl(control<ISPC::ControlAE>(), [wavelength](ISPC::ControlAE &ae) { ae.setWavelength(wavelength); });
}

double TestContext::getAfSharpness() const {
    const ISPC::ControlAF *af = control<ISPC::ControlAF>();
    return af != nullptr ? af->getSharpness() : 0.0;
}

bool TestContext::setWhiteBalanceCorrectionType(unsigned mode) {
    // Any mode outside the known ones is the automatic average-colour correction.
    const ISPC::ControlAWB::Correction_Types m = mode <= ISPC::ControlAWB::WB_MANUAL
                                                     ? static_cast<ISPC::ControlAWB::Correction_Types>(mode)
                                                     : ISPC::ControlAWB::WB_AC;
    return onControl(control<ISPC::ControlAWB>(), [m](ISPC::ControlAWB &awb) { awb.setCorrectionMode(m); });
}

unsigned TestContext::getWhiteBalanceCorrectionType() const {
    const ISPC::ControlAWB *awb = control<ISPC::ControlAWB>();
    return awb != nullptr ? awb->getCorrectionMode() : ISPC::ControlAWB::WB_NONE;
}

bool TestContext::setRedBalance(double value) {
    return onControl(control<ISPC::ControlAWB>(), [value](ISPC::ControlAWB &awb) { awb.setRedBalance(value); });
}

double TestContext::getRedBalance() const {
    const ISPC::ControlAWB *awb = control<ISPC::ControlAWB>();
    return awb != nullptr ? awb->getRedBalance() : 1.0;
}

bool TestContext::setBlueBalance(double value) {
    return onControl(control<ISPC::ControlAWB>(), [value](ISPC::ControlAWB &awb) { awb.setBlueBalance(value); });
}

double TestContext::getBlueBalance() const {
    const ISPC::ControlAWB *awb = control<ISPC::ControlAWB>();
    return awb != nullptr ? awb->getBlueBalance() : 1.0;
}

double TestContext::getMeasuredTemperature() const {
    const ISPC::ControlAWB *awb = control<ISPC::ControlAWB>();
    return awb != nullptr ? awb->getMeasuredTemperature() : 0.0;
}

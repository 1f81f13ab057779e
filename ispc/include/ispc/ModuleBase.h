#ifndef ISPC_MODULEBASE_H
#define ISPC_MODULEBASE_H

#include <ostream>
#include <string>

#include "ispc/Parameter.h"
#include "qor_errors.h"

namespace ISPC {

class ModuleBase;

/* Performance-trace hooks around set-up and update work; they do nothing in this build. */
bool LOG_Perf_Available();
void LOG_Perf_Register(const char *loggingName, bool verbose);
void LOG_Perf_Register(const ModuleBase *module, bool verbose);
void LOG_Perf_In(const char *loggingName, const char *file, const char *function, unsigned line);
void LOG_Perf_Out(const char *loggingName, const char *file, const char *function, unsigned line);
void LOG_Perf_Summary();

class Pipeline;
class Sensor;
struct Metadata;

enum modulePriority { HIGH = 0, NORMAL = 1, LOW = 2 };

enum moduleUpdate { FRAME = 0, REQUEST = 1 };

enum CtrlUpdateMode {
    UPDATE_SHOT = 0,    /**< the control runs after every acquired shot */
    UPDATE_REQUEST = 1, /**< the control runs only when run explicitly */
};

/** The kinds of setup module, in the order of the hardware pipeline (any int is a value: names
 * of others read "unkown-setupID"). */
enum SetupID : int {
    STP_IIF = 0,
    STP_EXS,
    STP_BLC,
    STP_RLT,
    STP_LSH,
    STP_WBC,
    STP_FOS,
    STP_DNS,
    STP_DPF,
    STP_ENS,
    STP_LCA,
    STP_CCM,
    STP_MGM,
    STP_GMA,
    STP_WBS,
    STP_AWS,
    STP_HIS,
    STP_R2Y,
    STP_MIE,
    STP_VIB,
    STP_TNM,
    STP_FLD,
    STP_SHA,
    STP_ESC,
    STP_DSC,
    STP_Y2R,
    STP_DGM,
    STP_HDR,
    STP_OUT,
};

/** The kinds of control module, in the order the runner runs them. */
enum ControlID : int {
    CTRL_AWB = 0,
    CTRL_AE,
    CTRL_AF,
    CTRL_TNM,
    CTRL_DNS,
    CTRL_LBC,
    CTRL_LSH,
    CTRL_AUX1,
    CTRL_AUX2,
};

/** Common base of setup and control modules: a log tag, load, save and a state dump. */
class ModuleBase {
public:
    // A fixed underlying type: a save kind outside the list is a valid value that saves nothing.
    enum SaveType : int {
        SAVE_VAL = 0, /**< the module's current values */
        SAVE_MIN = 1, /**< each parameter's minimum */
        SAVE_MAX = 2, /**< each parameter's maximum */
        SAVE_DEF = 3, /**< each parameter's default, with its range as comment */
    };

    explicit ModuleBase(const std::string &loggingName) : logName(loggingName) {}
    virtual ~ModuleBase() {}

    /** Takes the module's settings from the list; missing or unreadable ones take their defaults. */
    virtual QOR_RESULT load(const ParameterList &parameters) = 0;
    /** Adds the module's parameters of kind t and the module's group to the list. */
    virtual QOR_RESULT save(ParameterList &parameters, SaveType t) const = 0;
    /** The same with SAVE_VAL. */
    virtual QOR_RESULT save(ParameterList &parameters) const { return save(parameters, SAVE_VAL); }
    virtual std::ostream &printState(std::ostream &os) const;

    const char *getLoggingName() const { return logName.c_str(); }

    static const char *setupIDName(SetupID id);
    static const char *controlIDName(ControlID id);

protected:
    const std::string logName;
};

std::ostream &operator<<(std::ostream &os, const ModuleBase &b);

/**
 * Adds one parameter of the kind t asks for, replacing one of the same tag: value for SAVE_VAL, else the
 * definition's minimum, maximum or default; a kind outside the list adds nothing.
 */
template <typename Def, typename Value>
void saveParameter(ParameterList &list, ModuleBase::SaveType t, const Def &def, const Value &value) {
    switch (t) {
    case ModuleBase::SAVE_VAL:
        list.addParameter(def, value, true);
        break;
    case ModuleBase::SAVE_MIN:
        list.addParameterMin(def, true);
        break;
    case ModuleBase::SAVE_MAX:
        list.addParameterMax(def, true);
        break;
    case ModuleBase::SAVE_DEF:
        list.addParameterDef(def, true);
        break;
    default:
        break;
    }
}

} // namespace ISPC

#endif /* ISPC_MODULEBASE_H */

#ifndef NORVA_TESTS_MODULES_TEST_MODULES_H
#define NORVA_TESTS_MODULES_TEST_MODULES_H

// Two small setup modules built on the module template, standing in for the real ones: ModuleTST
// binds one parameter of every kind; ModuleHKS uses the hooks (a hand-written parameter, a post-load
// step, a replaced range comment). Their "pipeline" is a stand-in offering getMCPipeline().

#include <string>
#include <vector>

#include "ispc/SetupModuleImpl.h"
#include "qor_types.h"

namespace norva_test {

struct FakeBlock {
    int value = 0;
    double gain = 0;
    bool updateNeeded = false;
};

struct FakeMC {
    FakeBlock sTST;
    FakeBlock sHKS;
};

struct FakePipeline {
    FakeMC *mc = nullptr;
    FakeMC *getMCPipeline() { return mc; }
};

class ModuleTST : public ISPC::SetupModuleImpl<ModuleTST, ISPC::STP_EXS> {
public:
    static const ISPC::ParamDef<int> TST_INT;
    static const ISPC::ParamDef<double> TST_GAIN;
    static const ISPC::ParamDef<unsigned int> TST_UNSIGNED;
    static const ISPC::ParamDef<short> TST_SHORT;
    static const ISPC::ParamDefArray<int> TST_ARRAY;
    static const ISPC::ParamDefArray<float> TST_VECTOR;
    static const ISPC::ParamDefSingle<bool> TST_ENABLE;
    static const ISPC::ParamDefSingle<std::string> TST_FORMAT;

    static const char *const GROUP_NAME;
    static const char *const GROUP_HEADER;
    static const std::vector<Binding> &bindings();

    ModuleTST();

    QOR_RESULT setup() override { return standardSetup(fakePipeline); }
    QOR_RESULT writeSetup(FakeMC &mc);

    int iValue;
    double gain;
    QOR_UINT32 uValue;
    QOR_INT16 sValue;
    QOR_INT32 aValues[4];
    std::vector<double> vValues;
    QOR_BOOL8 bEnable;
    std::string format;

    FakePipeline *fakePipeline = nullptr;
    QOR_RESULT writeResult = QOR_RES_OK; // what writeSetup returns, to show a failing block
};

class ModuleHKS : public ISPC::SetupModuleImpl<ModuleHKS, ISPC::STP_HDR> {
public:
    enum Mode { MODE_LINEAR = 0, MODE_CUBIC = 1 };

    static const ISPC::ParamDef<double> HKS_RATIO;
    static const ISPC::ParamDefSingle<std::string> HKS_MODE;

    static const char *const GROUP_NAME;
    static const char *const GROUP_HEADER;
    static const std::vector<Binding> &bindings();

    ModuleHKS();

    QOR_RESULT setup() override { return standardSetup(fakePipeline); }
    QOR_RESULT writeSetup(FakeMC &mc);
    /** A ratio below 1 means no ratio: the module works with 1. */
    QOR_RESULT afterLoad(const ISPC::ParameterList &parameters);

    double ratio;
    Mode mode;
    FakePipeline *fakePipeline = nullptr;
};

} // namespace norva_test

#endif

#ifndef ISPC_CONTROLAWB_PLANCKIAN_H
#define ISPC_CONTROLAWB_PLANCKIAN_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "ispc/ControlAWB.h"

namespace ISPC {

/** One history entry of the Planckian white balance: the illuminant's red/green and blue/green ratios. */
typedef struct rbNode_tag {
    double rg;
    double bg;
} rbNode_t;

/**
 * A double-ended ring of values, newest at the front. Its storage grows by doubling and never shrinks, so a
 * history of steady length allocates nothing per frame.
 */
template <typename T> class HistoryRing {
public:
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    void clear() { count = 0; }
    /** Element i from the front (0 is the newest). */
    const T &operator[](size_t i) const { return data[(head + i) % data.size()]; }
    const T &front() const { return (*this)[0]; }
    const T &back() const { return (*this)[count - 1]; }
    void push_front(const T &v) {
        if (count == data.size()) {
            grow();
        }
        head = (head + data.size() - 1) % data.size();
        data[head] = v;
        count++;
    }
    void pop_back() {
        if (count > 0)
            count--;
    }
    void pop_front() {
        if (count > 0) {
            head = (head + 1) % data.size();
            count--;
        }
    }

private:
    void grow() {
        std::vector<T> bigger(data.empty() ? 16 : data.size() * 2);
        for (size_t i = 0; i < count; i++)
            bigger[i] = (*this)[i];
        data.swap(bigger);
        head = 0;
    }
    std::vector<T> data;
    size_t head = 0;
    size_t count = 0;
};

/**
 * White balance from the auto-white-balance statistics (7 x 7 tiles of log2 channel sums of raw cells): a
 * cell-weighted estimate of the illuminant's ratios, the better side of the scene along the calibrated locus,
 * a flash filter and temporal smoothing, then the gains QE / ratio and the matrix of the temperature.
 */
class ControlAWB_Planckian : public ControlAWB {
public:
    enum Smoothing_Features { WBTS_FEATURES_NONE = 0, WBTS_FEATURES_FF = 1 };

    /** One AWS tile with the ratios derived from it. */
    struct AwbTile : public MC_TILE_STATS_AWS {
        static constexpr double RATIO_DEF = 1.0;
        AwbTile();
        /** (numCFAs x QE + red - green) / numCFAs; 0 without cells. */
        double log2RatioR() const;
        double log2RatioB() const;
        /** Computes and caches the ratios. */
        void computeRatios();
        /** False (and the tile emptied) when it is both redder and less blue than the warm bound. */
        bool applyBounds(double lowLog2RatioR, double lowLog2RatioB);

        double ratioR;
        double ratioB;
        bool ratioRValid;
        bool ratioBValid;
        double log2_QEr;
        double log2_QEb;
    };
    typedef AwbTile statsTilesArray_t[7][7];

    static const ParamDefSingle<bool> AWB_USE_AWS_CONFIG;      /**< "AWB_USE_AWS_CONFIG" */
    static const ParamDef<double> AWB_MAX_RATIO_DISTANCE;      /**< "AWB_MAX_RATIO_DISTANCE", 0 to 1, 0.2 */
    static const ParamDefSingle<bool> WBT_USE_FLASH_FILTERING; /**< "WBT_USE_FLASH_FILTERING" */
    static const ParamDefSingle<bool> WBT_USE_SMOOTHING;       /**< "WBT_USE_SMOOTHING" */
    static const ParamDef<int> WBTS_TEMPORAL_STRETCH;          /**< "WBT_TEMPORAL_STRETCH", 200 to 5000 ms, 300 */
    static const ParamDef<float> WBTS_WEIGHT_BASE;             /**< "WBT_WEIGHT_BASE", 1.001 to 10, 2 */
    static const int TEMPORAL_STRETCH_MIN = 200;
    static const int TEMPORAL_STRETCH_MAX = 5000;
    static const int DEFAULT_TEMPORAL_STRETCH = 300;
    static const int DEFAULT_WEIGHT_BASE = 2;
    static const unsigned FLASH_FILTERING_START_DELAY = 5;

    explicit ControlAWB_Planckian(const std::string &logName = "ISPC_CTRL_AWB");
    ~ControlAWB_Planckian() override = default;

    QOR_RESULT load(const ParameterList &parameters) override;
    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    std::ostream &printState(std::ostream &os) const override;
    QOR_RESULT update(const Metadata &metadata) override;
    QOR_RESULT configureStatistics() override;
    bool hasConverged() const override { return true; }
    static ParameterGroup getGroup();
    static float getMinWeightBase() { return 1.001f; }
    static float getMaxWeightBase() { return 10.0f; }

    void processStatistics(const MC_STATS_AWS &awsStats);
    bool postprocessCentroid(double &fCentroidRatioR, double &fCentroidRatioB);
    const AwbTile &getTile(int row, int col) const { return awbTiles[row][col]; }
    double getRatioR() const { return fRatioR; }
    double getRatioB() const { return fRatioB; }
    double getLog2RQeff() const { return fLog2_R_Qeff; }
    double getLog2BQeff() const { return fLog2_B_Qeff; }

    /* ---- temporal filter ---- */
    virtual void setWBTSAlgorithm(bool smoothingEnabled, float base, int temporalStretch);
    void getWBTSAlgorithm(bool &smoothingEnabled, float &base, int &temporalStretch);
    virtual void setWBTSFeatures(unsigned features) { mFlashFilteringEnabled = (features & WBTS_FEATURES_FF) != 0; }
    void getWBTSFeatures(unsigned &features) const { features = mFlashFilteringEnabled ? 1u : 0u; }
    virtual bool potentialFlash(rbNode_t rbNode);
    virtual int getTemporalStretch() const { return mTemporalStretch; }
    virtual void setTemporalStretch(int stretch) { mTemporalStretch = stretch; }
    /** The frame rate of the owner's sensor mode; 0 without a sensor. */
    virtual double getFps();

    void flashFiltering(double in_RG, double in_BG);
    bool flashFilteringDisabled() const { return !mFlashFilteringEnabled; }
    void temporalAWBsmoothing(double &out_RG, double &out_BG);
    void smoothingNone(double &out_RG, double &out_BG);
    void movingAverageWeighted(double &out_RG, double &out_BG);
    void generateWeights(int size);
    float weightSpread(int nOfElem, int index) const;
    void setFlashFiltering(bool e) { mFlashFilteringEnabled = e; }
    void getFlashFiltering(bool &e) const { e = mFlashFilteringEnabled; }
    bool ts_getFlashFiltering() const { return mFlashFilteringEnabled; }
    void setWeightParam(float base);
    float getWeightParam() const { return mWeightsBase; }
    float ts_getWeightBase() const { return mWeightsBase; }
    void ts_setWeightBase(float w) { mWeightsBase = w; }
    void ts_setSmoothing(bool s) { mUseTemporalSmoothing = s; }
    bool ts_getSmoothing() const { return mUseTemporalSmoothing; }
    int ts_getTemporalStretch() const { return mTemporalStretch; }
    void ts_setTemporalStretch(int s) { mTemporalStretch = s; }
    void temporalAwbClear() {
        rbNodesCache.clear();
        rbNodes.clear();
    }
    const HistoryRing<rbNode_t> &history() const { return rbNodes; }
    const HistoryRing<rbNode_t> &flashCache() const { return rbNodesCache; }
    /** Weights in percent, front (newest) first. */
    const std::vector<float> &weights() const { return rbWeights; }

protected:
    QOR_RESULT programCorrection() override;

    statsTilesArray_t awbTiles;
    double fRatioR;
    double fRatioB;
    double fLog2_R_Qeff;
    double fLog2_B_Qeff;
    double f_R_Qeff;
    double f_B_Qeff;
    double fLog2LowTempRatioR;
    double fLog2LowTempRatioB;
    double fMaxRatioDistance;
    double fMaxRatioDistancePow2;
    bool useCustomAwsConfig;
    bool mFlashFilteringEnabled;
    bool mUseTemporalSmoothing;
    int mTemporalStretch;
    float mWeightsBase;
    std::vector<float> rbWeights;
    HistoryRing<rbNode_t> rbNodes;
    HistoryRing<rbNode_t> rbNodesCache;
    /** The missing statistics module was reported (once per control). */
    bool awsMissingLogged;
};

} // namespace ISPC

#endif /* ISPC_CONTROLAWB_PLANCKIAN_H */

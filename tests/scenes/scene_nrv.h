#ifndef NORVA_TEST_SCENES_SCENE_NRV_H
#define NORVA_TEST_SCENES_SCENE_NRV_H

/*
 * A test scene for the data generator, written as a Bayer NRV file: a grey ramp across the top band,
 * a row of neutral patches, a row of colour patches, and in the bottom band a zone of fine edges and a
 * clipped patch, on a mid-grey background. Any even size from 64 x 48, bit depths 8 to 16 (10 and 12
 * are the data generator's), any of the four Bayer orders, any number of identical frames.
 *
 * The samples are raw codes without black level: a linear level v (0 to 1) is the code
 * round(v x (2^depth - 1)). Only the clipped patch reaches the top code, so a count of clipped
 * samples equals its area exactly.
 */

#include <cstdint>
#include <string>
#include <vector>

#include "norvacommon/pixel_transform.h"
#include "platform/sim_chart.h"
#include "qor_errors.h"
#include "support/bayer_scene.h"

namespace norva_scenes {

/*
 * The scene is the test chart of the simulated platform (platform/sim_chart.h), the one the simulated sensors
 * render; its layout is given in the types of the in-memory charts of support/bayer_scene.h.
 */
using Rect = norva_test::Rect;
using SceneLayout = norva_test::ChartLayout;
inline constexpr const auto &kGreyLevels = norva_sim::kChartGreyLevels;
inline constexpr const auto &kColourPatches = norva_sim::kChartColourPatches;
inline constexpr double kBackground = norva_sim::kChartBackground;
inline constexpr double kRampTop = norva_sim::kChartRampTop;
inline constexpr double kEdgeHigh = norva_sim::kChartEdgeHigh;
inline constexpr double kEdgeLow = norva_sim::kChartEdgeLow;

/** What to write. */
struct SceneParams {
    uint32_t width = 640;   /**< even, 64 to 32768 */
    uint32_t height = 480;  /**< even, 48 to 32768 */
    unsigned bitDepth = 10; /**< 8 to 16 */
    MOSAICType mosaic = MOSAIC_RGGB;
    unsigned frames = 1; /**< at least 1 */
};

/** QOR_RES_OK for a scene that can be written, else QOR_RES_INVALID_PARAM with a logged reason. */
QOR_RESULT CheckSceneParams(const SceneParams &params);

/** The layout of a scene of the given size (valid sizes only). */
SceneLayout SceneLayoutOf(uint32_t width, uint32_t height);

/** The top code of a bit depth and the code of a linear level. */
uint16_t SceneMaxCode(unsigned bitDepth);
uint16_t SceneCode(double level, unsigned bitDepth);

/** One frame of the scene as raw codes, row-major (width x height); empty for invalid parameters. */
std::vector<uint16_t> SceneMosaic(const SceneParams &params);

/** Writes the scene's frames to an NRV file. QOR_RES_INVALID_PARAM for invalid parameters, else the writer's result. */
QOR_RESULT WriteSceneNrv(const std::string &path, const SceneParams &params);

/** The same, for tools: the scene of the given size, bit depth, Bayer order and number of frames. */
QOR_RESULT WriteSceneNrv(const std::string &path, uint32_t width, uint32_t height, unsigned bitDepth, MOSAICType mosaic,
                         unsigned frames);

} // namespace norva_scenes

#endif

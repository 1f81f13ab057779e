#ifndef NORVA_GST_CAMERAFACTORY_H
#define NORVA_GST_CAMERAFACTORY_H

/*
 * Chooses, from the hardware revision the driver reports, the setup modules (one per hardware block) that a
 * camera's pipeline gets, registers them and sets them up once with their defaults; also offers the matching list
 * of control modules. Log tag "ISPC_CAM_FACTORY".
 */

#include <list>

#include "ispc/Camera.h"
#include "ispc/ControlModule.h"
#include "ispc/ModuleBase.h"
#include "ispc/SetupModule.h"
#include "qor_errors.h"

namespace ISPC {

class CameraFactory {
public:
    /**
     * The blocks a revision has, in registration order (27 for 1.x, 28 for 2.0 to 2.5, 29 from 2.6 on); empty with
     * an error for major revision 0.
     */
    static std::list<SetupID> setupModuleIDsFromHWVersion(unsigned major, unsigned minor);
    /**
     * New setup modules (default constructed, no pipeline) for the blocks of the revision, in the same order; the
     * caller owns them. A block whose module class the system does not have yet gets none.
     */
    static std::list<SetupModule *> setupModulesFromHWVersion(unsigned major, unsigned minor);
    /** New control modules for the revision; the caller owns them. Controls the system lacks are left out. */
    static std::list<ControlModule *> controlModulesFromHWVersion(unsigned major, unsigned minor);
    /**
     * Registers the revision's setup modules with the camera's pipeline, fits the imager window to the sensor, sets
     * every module up once and makes the camera CAM_REGISTERED. 0; 3 for an unusable revision; else the first
     * registration error. perf > 0 registers each module with the performance hook (verbose above 1).
     */
    static QOR_RESULT populateCameraFromHWVersion(Camera &camera, Sensor *sensor, int perf = 0);
};

} // namespace ISPC

#endif /* NORVA_GST_CAMERAFACTORY_H */

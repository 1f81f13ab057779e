#ifndef ISPC_SAVE_H
#define ISPC_SAVE_H

#include <ostream>
#include <string>

#include "ci/ci_api_structs.h"
#include "ci/ci_capture.h"
#include "ispc/Shot.h"
#include "qor_errors.h"
#include "savefile.h"

namespace ISPC {

class Camera;
class Pipeline;

/**
 * Writes what captures produced to files, one file at a time: open chooses the kind of output and describes
 * its frames from the pipeline's configuration, each save appends one frame, close finishes the file. Image
 * outputs go into NRV files through the frame writer, YUV and packed 4:4:4 display frames into plain files,
 * raw blocks, statistics and text reports into plain "Bytes" files. Log tag "ISPC_Save".
 */
class Save {
public:
    enum SaveType {
        Bayer = 0,      /**< NRV Bayer file of the data-extraction output */
        Bayer_TIFF = 1, /**< NRV Bayer file of the raw 2D extraction */
        Display = 2,    /**< NRV RGB file, or a plain file for packed 4:4:4 */
        RGB_EXT = 3,    /**< NRV RGB file of the HDR extraction */
        RGB_INS = 4,    /**< NRV RGB file of HDR insertion frames (SingleHDF) */
        YUV = 5,        /**< plain file: luma plane then chroma plane per frame */
        Bytes = 6,      /**< plain file for DPF, ENS, statistics, text reports */
        None = 7,       /**< nothing opened yet */
    };

    Save();
    virtual ~Save();
    Save(const Save &) = delete;
    Save &operator=(const Save &) = delete;

    /** 18 when a file is already open; on any failure after that the object is closed again. */
    QOR_RESULT open(SaveType type, const Pipeline &context, const std::string &filename);
    QOR_RESULT save(const Shot &shot);
    QOR_RESULT saveDPF(const Shot &shot);
    QOR_RESULT saveENS(const Shot &shot);
    /** One record "#stats-<n>B#", the statistics block, "#stats-done#"; a failed write is reported. */
    QOR_RESULT saveStats(const Shot &shot);
    QOR_RESULT saveTxtStats(const Shot &shot);
    QOR_RESULT saveCameraState(const Camera &camera);
    /** 22 when no file is open; otherwise the result of finishing the file (a failed flush is not 0). */
    QOR_RESULT close();

    bool isOpened() const { return file != nullptr; }
    SaveType format() const { return type; }
    const std::string &getFilename() const { return filename; }

    /** An untiled copy of the shot's buffer for the open type (data malloc'd, freed by the caller). */
    QOR_RESULT untile(const Shot &shot, Buffer &result) const;
    static QOR_RESULT untileRGB(const Buffer &buffer, unsigned tileW, unsigned tileH, Buffer &result);
    static QOR_RESULT untileYUV(const Buffer &buffer, unsigned tileW, unsigned tileH, Buffer &result);

    static QOR_RESULT Single(const Pipeline &context, const Shot &shot, SaveType type, const std::string &filename);
    static QOR_RESULT SingleDPF(const Pipeline &context, const Shot &shot, const std::string &filename);
    static QOR_RESULT SingleENS(const Pipeline &context, const Shot &shot, const std::string &filename);
    static QOR_RESULT SingleStats(const Pipeline &context, const Shot &shot, const std::string &filename);
    static QOR_RESULT SingleHDF(const Pipeline &context, const CI_BUFFER &hdrBuffer, const std::string &filename);
    static QOR_RESULT SingleTxtStats(const Camera &camera, const Shot &shot, const std::string &filename);

    /** "encoder<ctx>_<W>x<H>_<format>_align<n>.yuv"; empty for a format that is not YUV. */
    static std::string getEncoderFilename(const Pipeline &context);
    /** "display<ctx>.nrv", or the .yuv form for packed 4:4:4; empty for a format the display cannot take. */
    static std::string getDisplayFilename(const Pipeline &context);

protected:
    QOR_RESULT openBayer(const Pipeline &context, bool tiff);
    QOR_RESULT openDisplayFile(const Pipeline &context, int format, unsigned width, unsigned height);
    QOR_RESULT openBytes();
    QOR_RESULT saveBayer(const Buffer &buffer, bool tiff);
    QOR_RESULT saveRGB(const Buffer &buffer);
    QOR_RESULT saveYUV(const Buffer &buffer);
    QOR_RESULT saveYUVPacked(const Buffer &buffer);
    /** Destroys and frees the file sink; the result of finishing the file. */
    QOR_RESULT dropFile();
    /** Writes one piece of a text report; a failure is a warning naming the piece, and is remembered. */
    void writeText(const std::string &text, const char *piece, QOR_RESULT &failure);

    std::string filename;
    SaveFile *file;
    SaveType type;
    unsigned tileScheme;
};

/** The hardware description as indented text. */
std::ostream &operator<<(std::ostream &os, const CI_HWINFO &info);

} // namespace ISPC

#endif /* ISPC_SAVE_H */

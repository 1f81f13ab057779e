#ifndef NORVA_TEST_NRV_HELPERS_H
#define NORVA_TEST_NRV_HELPERS_H

#include <string>
#include <vector>

#include "image_nrv.h"

namespace nrvtest {

/** A fresh folder under the test's build folder; files left there are inspected after a failure. */
std::string TempDir(const std::string &name);
/** Runs the Python NRV oracle with the given arguments; returns its exit status and stdout. */
int RunOracle(const std::string &args, std::string *out);
/** Canonical dump text of the planes currently held by an image, as frame number `index`. */
std::string DumpImage(CImageBase &im, int index);
/** Loads every frame of a file and dumps it; a failure message is returned as "error: <message>". */
std::string DumpFile(const std::string &path);
std::vector<unsigned char> ReadBytes(const std::string &path);
void WriteBytes(const std::string &path, const std::vector<unsigned char> &bytes);
/** Count of open file descriptors of this process. */
int OpenDescriptors();

} // namespace nrvtest

#endif

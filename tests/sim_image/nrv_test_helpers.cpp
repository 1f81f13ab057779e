#include "nrv_test_helpers.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace nrvtest {

std::string TempDir(const std::string &name) {
    std::string base = "sim_image_tmp";
    mkdir(base.c_str(), 0755);
    std::string dir = base + "/" + name;
    std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0)
        return dir;
    mkdir(dir.c_str(), 0755);
    return dir;
}

int RunOracle(const std::string &args, std::string *out) {
    std::string cmd = std::string("python3 '") + NORVA_TEST_SUPPORT_DIR + "/nrv_oracle.py' " + args;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        text.append(buf, n);
    int status = pclose(p);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string DumpImage(CImageBase &im, int index) {
    std::ostringstream s;
    s << "frame " << index << " model " << im.colorModel << " " << im.width << "x" << im.height << "\n";
    for (int c = 0; c < im.GetNColChannels(); ++c) {
        const COLCHANNEL &ch = im.chnl[c];
        s << "ch " << c << " " << ch.chnlWidth << "x" << ch.chnlHeight << " bd " << int(ch.bitDepth) << " s "
          << (ch.isSigned ? 1 : 0) << ":";
        for (long i = 0; ch.data && i < long(ch.chnlWidth) * ch.chnlHeight; ++i)
            s << " " << ch.data[i];
        s << "\n";
    }
    return s.str();
}

std::string DumpFile(const std::string &path) {
    CImageNrv im;
    const char *msg = im.LoadFileHeader(path.c_str(), nullptr);
    if (msg)
        return std::string("error: ") + msg + "\n";
    std::string text;
    for (int f = 0; f < im.GetNFrames(); ++f) {
        msg = im.LoadFileData(f);
        if (msg)
            return text + "error: " + msg + "\n";
        text += DumpImage(im, f);
    }
    return text;
}

std::vector<unsigned char> ReadBytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string &path, const std::vector<unsigned char> &bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int OpenDescriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    while (readdir(d))
        ++n;
    closedir(d);
    return n;
}

} // namespace nrvtest

#include "format_test_helpers.h"

#include <sys/wait.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace fmttest {

const char *const kPython = "/usr/bin/python3";

int Shell(const std::string &cmd, std::string *out) {
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        text.append(buf, n);
    const int status = pclose(p);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string &name) { return Shell("command -v '" + name + "' >/dev/null 2>&1") == 0; }

bool HavePythonModule(const std::string &module) {
    return Shell(std::string(kPython) + " -c 'import " + module + "' >/dev/null 2>&1") == 0;
}

std::string Str(const char *msg) { return msg ? msg : "(success)"; }

std::string TestName(std::string what) {
    for (char &c : what)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return what;
}

bool ParsePlainPnm(const std::string &text, PlainPnm *pnm) {
    std::istringstream in(text);
    std::string magic;
    in >> magic;
    if (magic != "P2" && magic != "P3")
        return false;
    pnm->channels = magic == "P2" ? 1 : 3;
    in >> pnm->width >> pnm->height >> pnm->maxval;
    pnm->values.clear();
    long v;
    while (in >> v)
        pnm->values.push_back(v);
    return in.eof() && pnm->values.size() == size_t(pnm->width) * pnm->height * pnm->channels;
}

std::vector<long> Interleaved(const CImageBase &im) {
    std::vector<long> v;
    const int n = im.GetNColChannels();
    for (int y = 0; y < im.chnl[0].chnlHeight; ++y)
        for (int x = 0; x < im.chnl[0].chnlWidth; ++x)
            for (int c = 0; c < n; ++c)
                v.push_back(im.chnl[c].data[long(y) * im.chnl[c].chnlWidth + x]);
    return v;
}

std::vector<long> Planes(const CImageBase &im) {
    std::vector<long> planes;
    for (int c = 0; c < im.GetNColChannels(); ++c)
        planes.insert(planes.end(), im.chnl[c].data,
                      im.chnl[c].data + long(im.chnl[c].chnlWidth) * im.chnl[c].chnlHeight);
    return planes;
}

std::vector<long> Mosaic(const CImageBase &im) {
    std::vector<long> v;
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const int c = (im.subsMode - CImageBase::SUBS_RGGB) ^ (2 * (y % 2) + (x % 2));
            v.push_back(im.chnl[c].data[long(y / 2) * im.chnl[c].chnlWidth + x / 2]);
        }
    return v;
}

std::vector<long> Rescale(const std::vector<long> &v, long fromMax, long toMax) {
    std::vector<long> r;
    for (long x : v)
        r.push_back(fromMax == toMax ? x : std::lround(double(x) * toMax / fromMax));
    return r;
}

} // namespace fmttest

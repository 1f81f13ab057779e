#include "image_file_io.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/types.h>

namespace imageio {

QOR_INT64 FileSize(FILE *f) {
    if (!f || fseeko(f, 0, SEEK_END) != 0)
        return -1;
    const QOR_INT64 size = ftello(f);
    if (fseeko(f, 0, SEEK_SET) != 0)
        return -1;
    return size;
}

QOR_INT64 FileSize(const char *filename) {
    FILE *f = filename ? QOR_OpenRegularFile(filename, "rb") : nullptr;
    if (!f)
        return -1;
    const QOR_INT64 size = FileSize(f);
    std::fclose(f);
    return size;
}

bool EndOutput(FILE **pF, const std::string &path, bool failed) {
    if (!*pF)
        return false;
    const bool ok = QOR_CloseCreatedFile(*pF, path.c_str(), failed ? 1 : 0) == 0;
    *pF = nullptr;
    return ok;
}

bool SeekTo(FILE *f, QOR_INT64 offset) { return offset >= 0 && fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0; }

bool ValidSize(QOR_INT64 w, QOR_INT64 h) {
    return w >= 1 && h >= 1 && w <= CImageBase::MAX_DIMENSION && h <= CImageBase::MAX_DIMENSION;
}

bool AllocPlanes(CImageBase &im) {
    for (QOR_INT32 c = 0; c < im.GetNColChannels(); ++c) {
        COLCHANNEL &ch = im.chnl[c];
        if (ch.data)
            continue;
        const QOR_INT64 n = CImageBase::PlaneSamples(ch.chnlWidth, ch.chnlHeight);
        if (n < 1)
            return false;
        ch.data = new (std::nothrow) PIXEL[static_cast<size_t>(n)];
        if (!ch.data)
            return false;
    }
    return true;
}

void ZeroPlanes(CImageBase &im) {
    for (QOR_INT32 c = 0; c < im.GetNColChannels(); ++c) {
        COLCHANNEL &ch = im.chnl[c];
        const QOR_INT64 n = CImageBase::PlaneSamples(ch.chnlWidth, ch.chnlHeight);
        if (ch.data && n > 0)
            std::memset(ch.data, 0, sizeof(PIXEL) * static_cast<size_t>(n));
    }
}

bool SetFileName(CImageBase &im, const char *filename) {
    std::free(im.fileName);
    im.fileName = filename ? strdup(filename) : nullptr;
    return im.fileName != nullptr;
}

QOR_INT64 ReadNumber(const char *s, const char **pEnd, QOR_INT64 maxVal) {
    QOR_INT64 v = 0;
    while (std::isdigit(static_cast<unsigned char>(*s))) {
        if (v <= maxVal)
            v = v * 10 + (*s - '0');
        ++s;
    }
    if (pEnd)
        *pEnd = s;
    return v > maxVal ? maxVal + 1 : v;
}

QOR_INT64 NamePartOffset(const char *path) {
    const char *b = std::strrchr(path, '\\');
    if (!b)
        b = std::strrchr(path, '/');
    return b ? (b + 1 - path) : 0;
}

void ScanNameTokens(char *s, QOR_INT32 maxDepth, NameTokens *t) {
    const QOR_INT64 kBig = 1000000;
    auto candidate = [t](QOR_INT64 pos) {
        if (t->firstCandidate < 0 || pos < t->firstCandidate)
            t->firstCandidate = pos;
    };
    char *p = s;
    while (*p) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) {
            ++p;
            continue;
        }
        char *start = p;
        const char *end;
        const QOR_INT64 n = ReadNumber(p, &end, kBig);
        p = const_cast<char *>(end);
        if (std::strncmp(p, "bit", 3) == 0 || std::strncmp(p, "-bit", 4) == 0) {
            /* Passing over depths of 16 and more would read those samples at the default depth, every one wrong:
             * depths the loader reads count, deeper ones refuse the name. */
            if (n >= 1 && n <= maxDepth) {
                t->bitDepth = static_cast<QOR_INT32>(n);
                t->badDepth = false;
            } else if (n > maxDepth) {
                t->badDepth = true;
            }
            candidate(start - s);
        } else if (*p == 'x' && std::isdigit(static_cast<unsigned char>(p[1]))) {
            const QOR_INT64 m = ReadNumber(p + 1, &end, kBig);
            if (n >= 1 && n <= 10000 && m >= 1 && m <= 10000) {
                t->width = static_cast<QOR_INT32>(n);
                t->height = static_cast<QOR_INT32>(m);
                for (char *q = start; q < end; ++q)
                    *q = ' ';
                candidate(start - s);
                p = const_cast<char *>(end);
            } else {
                ++p;
            }
        }
    }
}

} // namespace imageio

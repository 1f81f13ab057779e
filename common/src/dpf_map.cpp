#include "norvacommon/dpf_map.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "DPF_OUT";
constexpr QOR_UINT32 kValidMask = 0x1FFF1FFFu;
constexpr QOR_UINT32 kInitialRecords = 1024;

/** The file opened for reading when it is a regular file, with its size; null otherwise. */
FILE *openRegular(const char *name, off_t &size) {
    FILE *f = QOR_OpenRegularFile(name, "rb");
    if (f == nullptr)
        return nullptr;
    struct stat st;
    if (::fstat(::fileno(f), &st) != 0) {
        std::fclose(f);
        return nullptr;
    }
    size = st.st_size;
    return f;
}

QOR_UINT32 littleEndian(const unsigned char b[4]) {
    return static_cast<QOR_UINT32>(b[0]) | static_cast<QOR_UINT32>(b[1]) << 8 | static_cast<QOR_UINT32>(b[2]) << 16 |
           static_cast<QOR_UINT32>(b[3]) << 24;
}
} // namespace

QOR_RESULT DPF_Load_bin(QOR_UINT16 **ppDefect, QOR_UINT32 *pNDefects, const char *pszFilenane) {
    static const char *const kFunction = "DPF_Load_bin";
    if (ppDefect == nullptr || pNDefects == nullptr || pszFilenane == nullptr) {
        return QOR_RES_INVALID_PARAM;
    }
    if (*ppDefect != nullptr) {
        return QOR_RES_ALREADY;
    }
    off_t size = 0;
    FILE *f = openRegular(pszFilenane, size);
    if (f == nullptr) {
        LOG_Error(kFunction, __LINE__, kTag, "failed to open %s!\n", pszFilenane);
        return QOR_RES_FAILED;
    }
    // Refused before anything grows: the records a file may hold are bounded.
    const unsigned long long records = static_cast<unsigned long long>(size) / 4u;
    if (records > DPF_MAP_MAX_RECORDS) {
        fclose(f);
        LOG_Error(kFunction, __LINE__, kTag, "failed to allocate intermediate map (%u Bytes).\n",
                  static_cast<unsigned>(records > 0xFFFFFFFFull / 4u ? 0xFFFFFFFFull : records * 4u));
        return QOR_RES_NO_MEMORY;
    }

    QOR_UINT32 capacity = kInitialRecords;
    QOR_UINT32 *work = static_cast<QOR_UINT32 *>(calloc(capacity, sizeof(QOR_UINT32)));
    if (work == nullptr) {
        fclose(f);
        LOG_Error(kFunction, __LINE__, kTag, "failed to allocate intermediate map.\n");
        return QOR_RES_NO_MEMORY;
    }
    QOR_UINT32 n = 0;
    unsigned char bytes[4];
    while (fread(bytes, 1, sizeof(bytes), f) == sizeof(bytes)) {
        const QOR_UINT32 word = littleEndian(bytes);
        if ((word & ~kValidMask) != 0) {
            LOG_Error(kFunction, __LINE__, kTag,
                      "binary is corrupted at DPF correction %d (offset=0x%x): coord=0x%08x (coord mask=0x%08x)\n",
                      static_cast<int>(n), n * 4u, word, kValidMask);
            fclose(f);
            free(work);
            return QOR_RES_TIMEOUT;
        }
        // One word keeps x in its low and y in its high half, as the map in memory wants them.
        work[n] = (word & 0x1FFFu) | (((word >> 16) & 0x1FFFu) << 16);
        n++;
        if (n == capacity) {
            if (capacity >= DPF_MAP_MAX_RECORDS) {
                // Full at the bound: a further record (a file that grew while being read) is refused.
                if (fread(bytes, 1, sizeof(bytes), f) != sizeof(bytes)) {
                    break;
                }
                fclose(f);
                LOG_Error(kFunction, __LINE__, kTag, "failed to allocate intermediate map (%u Bytes).\n",
                          capacity * 4u);
                free(work);
                return QOR_RES_NO_MEMORY;
            }
            QOR_UINT32 *grown = static_cast<QOR_UINT32 *>(calloc(2u * capacity, sizeof(QOR_UINT32)));
            if (grown == nullptr) {
                fclose(f);
                LOG_Error(kFunction, __LINE__, kTag, "failed to allocate intermediate map (%u Bytes).\n",
                          capacity * 4u);
                free(work);
                return QOR_RES_NO_MEMORY;
            }
            memcpy(grown, work, n * sizeof(QOR_UINT32));
            free(work);
            work = grown;
            capacity *= 2u;
        }
    }
    fclose(f);
    *pNDefects = n;
    if (n == 0) {
        // No whole record: no map, rather than an empty one that no later load could replace.
        free(work);
        LOG_Info(kFunction, __LINE__, kTag, "INFO: Using DPF input map %s with %d elements\n", pszFilenane, 0);
        return QOR_RES_OK;
    }
    QOR_UINT16 *map = static_cast<QOR_UINT16 *>(malloc(static_cast<size_t>(n) * 2u * sizeof(QOR_UINT16)));
    if (map == nullptr) {
        LOG_Error(kFunction, __LINE__, kTag, "failed to allocate DPF map for MC\n");
        free(work);
        return QOR_RES_NO_MEMORY;
    }
    LOG_Info(kFunction, __LINE__, kTag, "INFO: Using DPF input map %s with %d elements\n", pszFilenane,
             static_cast<int>(n));
    for (QOR_UINT32 i = 0; i < n; i++) {
        map[2 * i] = static_cast<QOR_UINT16>(work[i] & 0xFFFFu);
        map[2 * i + 1] = static_cast<QOR_UINT16>(work[i] >> 16);
    }
    free(work);
    *ppDefect = map;
    return QOR_RES_OK;
}

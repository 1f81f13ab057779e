#ifndef NORVA_IMAGE_METADATA_H
#define NORVA_IMAGE_METADATA_H

#include "qor_types.h"

/** Ordered list of named text items describing an image; names compare without regard to case. */
class CMetaData {
public:
    enum whatIfExistsEnum {
        IFEX_FAIL = 0,
        IFEX_REPLACE = 1,
        IFEX_APPEND = 2,
        IFEX_IGNORE = 3,
    };
    struct metaDataItemStr {
        char *name;
        char *sVal;
        metaDataItemStr *next;
    };

    metaDataItemStr *list;

    CMetaData();
    ~CMetaData();
    CMetaData(const CMetaData &) = delete;
    CMetaData &operator=(const CMetaData &) = delete;

    bool Add(const char *name, QOR_INT32 nameLen, const char *value, QOR_INT32 valueLen, whatIfExistsEnum whatIfExists,
             const char *separatorOnAppend);
    bool Add(metaDataItemStr *item);
    bool UpdateStr(const char *fieldName, const char *newValue, whatIfExistsEnum whatIfExists);
    bool UpdateStrFmt(const char *fieldName, whatIfExistsEnum whatIfExists, const char *newValueFmt, ...)
        __attribute__((format(printf, 4, 5)));
    bool UpdateInt(const char *fieldName, int newValue, whatIfExistsEnum whatIfExists);
    bool UpdateDouble(const char *fieldName, double newValue, whatIfExistsEnum whatIfExists);
    const char *AddFromString(const char *str, whatIfExistsEnum whatIfExists, const char *separatorOnAppend);
    bool UpdateSubItem(const char *name, QOR_INT32 nameLen, int subIndex, const char *value, QOR_INT32 valueLen,
                       char separator);
    bool UpdateSubStr(const char *fieldName, int subIndex, const char *newValue, char separator);
    bool UpdateSubStrFmt(const char *fieldName, int subIndex, char separator, const char *newValueFmt, ...)
        __attribute__((format(printf, 5, 6)));
    bool UpdateSubInt(const char *fieldName, int subIndex, int newValue, char separator);
    bool UpdateSubDouble(const char *fieldName, int subIndex, double newValue, char separator);
    bool Rename(metaDataItemStr *item, const char *newName);
    bool Rename(const char *fieldName, const char *newName);
    void Del(metaDataItemStr *item);
    void Unload();
    bool CopyFrom(CMetaData *pOther);
    bool MergeFrom(CMetaData *pOther, whatIfExistsEnum whatIfExists);
    void SwapWith(CMetaData *pOther);

    metaDataItemStr *Find(const char *name, QOR_INT32 prefixLen = -1);
    QOR_INT32 GetNItems();
    metaDataItemStr *GetMetaAt(QOR_INT32 index);
    const char *GetMetaName(QOR_INT32 index);
    const char *GetMetaStr(const char *name, const char *defVal);
    const char *GetMetaSubStr(const char *name, const char *defVal, QOR_INT32 index, QOR_INT32 *pLen, char separator);
    QOR_INT32 GetMetaInt(const char *name, QOR_INT32 defVal, QOR_INT32 index, bool extendLast);
    QOR_INT32 GetMetaInt(const char *name);
    double GetMetaDouble(const char *name, double defVal, QOR_INT32 index, bool extendLast);
    QOR_INT32 GetMetaValCount(const char *name);
    QOR_INT32 GetMetaEnum(const char *name, QOR_INT32 defVal, const char *enumStrings);

    /** The "%.10lf" text of a value with trailing zeros (and then the point) removed. */
    static void FormatDouble(char *buf, QOR_SIZE bufSize, double value);

private:
    metaDataItemStr *tail; /* last item, so that appending a long text stays linear */
    metaDataItemStr *AppendNew(const char *name, QOR_INT32 nameLen, const char *value, QOR_INT32 valueLen);
    const char *FindValue(const char *name, QOR_INT32 index, bool extendLast, QOR_INT32 *pLen);
};

typedef CMetaData::metaDataItemStr MDITEM;
typedef CMetaData::whatIfExistsEnum IFEX_xxx;
constexpr auto IFEX_FAIL = CMetaData::IFEX_FAIL;
constexpr auto IFEX_REPLACE = CMetaData::IFEX_REPLACE;
constexpr auto IFEX_APPEND = CMetaData::IFEX_APPEND;
constexpr auto IFEX_IGNORE = CMetaData::IFEX_IGNORE;

#endif

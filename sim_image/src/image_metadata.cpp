#include "image_metadata.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <strings.h>

namespace {

const int kFmtMax = 500; /* formatted values hold at most 499 characters */

char *DupN(const char *s, QOR_INT32 len) {
    char *p = static_cast<char *>(std::malloc(static_cast<size_t>(len) + 1));
    if (!p)
        return nullptr;
    if (len > 0)
        std::memcpy(p, s, static_cast<size_t>(len));
    p[len] = '\0';
    return p;
}

QOR_INT32 Len(const char *s, QOR_INT32 len) {
    if (len >= 0)
        return static_cast<QOR_INT32>(strnlen(s, static_cast<size_t>(len))); /* never past the end */
    size_t n = std::strlen(s);
    return n > INT32_MAX ? INT32_MAX : static_cast<QOR_INT32>(n);
}

bool NameEquals(const char *itemName, const char *name, QOR_INT32 nameLen) {
    return std::strlen(itemName) == static_cast<size_t>(nameLen) &&
           strncasecmp(itemName, name, static_cast<size_t>(nameLen)) == 0;
}

bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

/* Decimal integer at the start of a text ("%d" rules), saturated to 32 bits instead of overflowing. */
bool ParseInt(const char *s, QOR_INT32 *pVal) {
    while (IsWhite(*s))
        ++s;
    const char *p = s;
    if (*p == '+' || *p == '-')
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    errno = 0;
    long long v = std::strtoll(s, nullptr, 10);
    if (v > INT32_MAX)
        v = INT32_MAX;
    if (v < INT32_MIN)
        v = INT32_MIN;
    *pVal = static_cast<QOR_INT32>(v);
    return true;
}

bool ParseDouble(const char *s, double *pVal) {
    char *end = nullptr;
    double v = std::strtod(s, &end);
    if (end == s)
        return false;
    *pVal = v;
    return true;
}

// A value of len characters as a C string in buf, cut to fit.
template <size_t N> void copyValue(char (&buf)[N], const char *v, QOR_INT32 len) {
    const QOR_INT32 n = len < static_cast<QOR_INT32>(N - 1) ? len : static_cast<QOR_INT32>(N - 1);
    std::memcpy(buf, v, static_cast<size_t>(n));
    buf[n] = '\0';
}

} // namespace

CMetaData::CMetaData() : list(nullptr), tail(nullptr) {}

CMetaData::~CMetaData() { Unload(); }

MDITEM *CMetaData::AppendNew(const char *name, QOR_INT32 nameLen, const char *value, QOR_INT32 valueLen) {
    MDITEM *it = static_cast<MDITEM *>(std::malloc(sizeof(MDITEM)));
    if (!it)
        return nullptr;
    it->name = DupN(name, nameLen);
    it->sVal = DupN(value, valueLen);
    it->next = nullptr;
    if (!it->name || !it->sVal) {
        std::free(it->name);
        std::free(it->sVal);
        std::free(it);
        return nullptr;
    }
    if (!list) {
        list = it;
    } else {
        if (!tail) {
            tail = list;
            while (tail->next)
                tail = tail->next;
        }
        tail->next = it;
    }
    tail = it;
    return it;
}

bool CMetaData::Add(const char *name, QOR_INT32 nameLen, const char *value, QOR_INT32 valueLen,
                    whatIfExistsEnum whatIfExists, const char *separatorOnAppend) {
    if (!name || !value)
        return false;
    nameLen = Len(name, nameLen);
    valueLen = Len(value, valueLen);
    if (whatIfExists != IFEX_IGNORE) {
        MDITEM *it = Find(name, nameLen);
        if (it) {
            switch (whatIfExists) {
            case IFEX_FAIL:
                return false;
            case IFEX_REPLACE: {
                if (std::strlen(it->sVal) == static_cast<size_t>(valueLen) &&
                    std::memcmp(it->sVal, value, static_cast<size_t>(valueLen)) == 0)
                    return true;
                char *v = DupN(value, valueLen);
                if (!v)
                    return false;
                std::free(it->sVal);
                it->sVal = v;
                return true;
            }
            case IFEX_APPEND: {
                size_t oldLen = std::strlen(it->sVal);
                size_t sepLen = separatorOnAppend ? std::strlen(separatorOnAppend) : 0;
                char *v = static_cast<char *>(std::malloc(oldLen + sepLen + static_cast<size_t>(valueLen) + 1));
                if (!v)
                    return false;
                std::memcpy(v, it->sVal, oldLen);
                if (sepLen)
                    std::memcpy(v + oldLen, separatorOnAppend, sepLen);
                if (valueLen)
                    std::memcpy(v + oldLen + sepLen, value, static_cast<size_t>(valueLen));
                v[oldLen + sepLen + valueLen] = '\0';
                std::free(it->sVal);
                it->sVal = v;
                return true;
            }
            default:
                break;
            }
        }
    }
    return AppendNew(name, nameLen, value, valueLen) != nullptr;
}

bool CMetaData::Add(MDITEM *item) {
    if (!item || !item->name || !item->sVal)
        return false;
    return Add(item->name, -1, item->sVal, -1, IFEX_REPLACE, nullptr);
}

bool CMetaData::UpdateStr(const char *fieldName, const char *newValue, whatIfExistsEnum whatIfExists) {
    return Add(fieldName, -1, newValue, -1, whatIfExists, " ");
}

bool CMetaData::UpdateStrFmt(const char *fieldName, whatIfExistsEnum whatIfExists, const char *newValueFmt, ...) {
    if (!newValueFmt)
        return false;
    char buf[kFmtMax];
    va_list ap;
    va_start(ap, newValueFmt);
    std::vsnprintf(buf, sizeof(buf), newValueFmt, ap);
    va_end(ap);
    return UpdateStr(fieldName, buf, whatIfExists);
}

bool CMetaData::UpdateInt(const char *fieldName, int newValue, whatIfExistsEnum whatIfExists) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%d", newValue);
    return UpdateStr(fieldName, buf, whatIfExists);
}

void CMetaData::FormatDouble(char *buf, QOR_SIZE bufSize, double value) {
    std::snprintf(buf, bufSize, "%.10lf", value);
    if (std::strchr(buf, '.')) {
        size_t n = std::strlen(buf);
        while (n > 0 && buf[n - 1] == '0')
            buf[--n] = '\0';
        if (n > 0 && buf[n - 1] == '.')
            buf[--n] = '\0';
    }
    /* A tiny negative value prints as "-0" once its zeros are gone: it is zero. */
    if (std::strcmp(buf, "-0") == 0)
        std::snprintf(buf, bufSize, "0");
}

bool CMetaData::UpdateDouble(const char *fieldName, double newValue, whatIfExistsEnum whatIfExists) {
    char buf[400];
    FormatDouble(buf, sizeof(buf), newValue);
    return UpdateStr(fieldName, buf, whatIfExists);
}

const char *CMetaData::AddFromString(const char *str, whatIfExistsEnum whatIfExists, const char *separatorOnAppend) {
    if (!str)
        return nullptr;
    const char *eol = std::strchr(str, '\n');
    const char *end = eol ? eol : str + std::strlen(str);
    if (end == str)
        return nullptr;
    const char *eq = nullptr;
    for (const char *p = str; p < end; ++p)
        if (*p == '=')
            eq = p;
    if (!eq)
        return nullptr;
    if (!Add(str, static_cast<QOR_INT32>(eq - str), eq + 1, static_cast<QOR_INT32>(end - eq - 1), whatIfExists,
             separatorOnAppend))
        return nullptr;
    return eol ? eol + 1 : end;
}

bool CMetaData::UpdateSubItem(const char *name, QOR_INT32 nameLen, int subIndex, const char *value, QOR_INT32 valueLen,
                              char separator) {
    if (!name || !value)
        return false;
    nameLen = Len(name, nameLen);
    valueLen = Len(value, valueLen);
    MDITEM *it = Find(name, nameLen);
    if (!it) {
        if (!Add(name, nameLen, "", 0, IFEX_IGNORE, nullptr))
            return false;
        it = tail;
    }
    const char *text = it->sVal;
    size_t textLen = std::strlen(text);
    size_t pos = 0;
    while (pos < textLen && text[pos] == separator)
        ++pos; /* start of value 0 */
    size_t valStart = pos;
    size_t sepPos = SIZE_MAX; /* the separator that begins the wanted value, when there is one */
    if (subIndex > 0) {
        int met = 0;
        size_t p = pos;
        bool found = false;
        while (p < textLen) {
            if (text[p] == separator) {
                ++met;
                if (met == subIndex) {
                    found = true;
                    break;
                }
            }
            ++p;
        }
        if (!found) {
            int c = textLen == 0 ? 1 : met + 1;
            if (textLen == 0 && c == subIndex)
                c = subIndex; /* an empty text takes the value alone */
            int copies = c >= subIndex ? 1 : subIndex - c + 1;
            size_t add = static_cast<size_t>(copies) * (static_cast<size_t>(valueLen) + 1);
            char *v = static_cast<char *>(std::malloc(textLen + add + 1));
            if (!v)
                return false;
            std::memcpy(v, text, textLen);
            size_t o = textLen;
            for (int k = 0; k < copies; ++k) {
                if (!(textLen == 0 && k == 0 && c == subIndex))
                    v[o++] = separator;
                std::memcpy(v + o, value, static_cast<size_t>(valueLen));
                o += static_cast<size_t>(valueLen);
            }
            v[o] = '\0';
            std::free(it->sVal);
            it->sVal = v;
            return true;
        }
        sepPos = p;
        valStart = p;
        while (valStart < textLen && text[valStart] == separator)
            ++valStart;
    }
    size_t valEnd = valStart;
    while (valEnd < textLen && text[valEnd] != separator)
        ++valEnd;
    size_t oldLen = valEnd - valStart;
    if (oldLen == static_cast<size_t>(valueLen) && valStart < textLen) {
        std::memcpy(it->sVal + valStart, value, oldLen);
        return true;
    }
    /* Rebuilt as: text before the value's separator, one separator, the new value, the rest. */
    size_t before = sepPos == SIZE_MAX ? valStart : sepPos;
    bool withSep = sepPos != SIZE_MAX;
    size_t restLen = textLen - valEnd;
    char *v = static_cast<char *>(std::malloc(before + 1 + static_cast<size_t>(valueLen) + restLen + 1));
    if (!v)
        return false;
    size_t o = 0;
    std::memcpy(v, text, before);
    o = before;
    if (withSep)
        v[o++] = separator;
    std::memcpy(v + o, value, static_cast<size_t>(valueLen));
    o += static_cast<size_t>(valueLen);
    std::memcpy(v + o, text + valEnd, restLen);
    o += restLen;
    v[o] = '\0';
    std::free(it->sVal);
    it->sVal = v;
    return true;
}

bool CMetaData::UpdateSubStr(const char *fieldName, int subIndex, const char *newValue, char separator) {
    return UpdateSubItem(fieldName, -1, subIndex, newValue, -1, separator);
}

bool CMetaData::UpdateSubStrFmt(const char *fieldName, int subIndex, char separator, const char *newValueFmt, ...) {
    if (!newValueFmt)
        return false;
    char buf[kFmtMax];
    va_list ap;
    va_start(ap, newValueFmt);
    std::vsnprintf(buf, sizeof(buf), newValueFmt, ap);
    va_end(ap);
    return UpdateSubStr(fieldName, subIndex, buf, separator);
}

bool CMetaData::UpdateSubInt(const char *fieldName, int subIndex, int newValue, char separator) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%d", newValue);
    return UpdateSubStr(fieldName, subIndex, buf, separator);
}

bool CMetaData::UpdateSubDouble(const char *fieldName, int subIndex, double newValue, char separator) {
    char buf[400];
    FormatDouble(buf, sizeof(buf), newValue);
    return UpdateSubStr(fieldName, subIndex, buf, separator);
}

bool CMetaData::Rename(MDITEM *item, const char *newName) {
    if (!item || !newName)
        return false;
    char *n = DupN(newName, Len(newName, -1));
    if (!n)
        return false;
    std::free(item->name);
    item->name = n;
    return true;
}

bool CMetaData::Rename(const char *fieldName, const char *newName) {
    if (!fieldName)
        return false;
    bool ok = true;
    QOR_INT32 len = Len(fieldName, -1);
    for (MDITEM *it = list; it; it = it->next)
        if (NameEquals(it->name, fieldName, len))
            ok = Rename(it, newName) && ok;
    return ok;
}

void CMetaData::Del(MDITEM *item) {
    if (!item)
        return;
    MDITEM *prev = nullptr;
    for (MDITEM *it = list; it; prev = it, it = it->next) {
        if (it != item)
            continue;
        if (prev)
            prev->next = it->next;
        else
            list = it->next;
        if (tail == it)
            tail = prev;
        std::free(it->name);
        std::free(it->sVal);
        std::free(it);
        return;
    }
}

void CMetaData::Unload() {
    while (list) {
        MDITEM *n = list->next;
        std::free(list->name);
        std::free(list->sVal);
        std::free(list);
        list = n;
    }
    tail = nullptr;
}

bool CMetaData::CopyFrom(CMetaData *pOther) {
    if (!pOther)
        return false;
    if (pOther == this)
        return true;
    Unload();
    for (MDITEM *it = pOther->list; it; it = it->next)
        if (!Add(it))
            return false;
    return true;
}

bool CMetaData::MergeFrom(CMetaData *pOther, whatIfExistsEnum whatIfExists) {
    if (!pOther || !pOther->list || pOther == this)
        return true;
    if (whatIfExists == IFEX_REPLACE) {
        for (MDITEM *it = list; it;) {
            MDITEM *n = it->next;
            if (pOther->Find(it->name, -1))
                Del(it);
            it = n;
        }
        for (MDITEM *it = pOther->list; it; it = it->next)
            Add(it->name, -1, it->sVal, -1, IFEX_IGNORE, nullptr);
    } else {
        for (MDITEM *it = pOther->list; it; it = it->next)
            Add(it->name, -1, it->sVal, -1, whatIfExists, " ");
    }
    return true;
}

void CMetaData::SwapWith(CMetaData *pOther) {
    if (!pOther)
        return;
    std::swap(list, pOther->list);
    std::swap(tail, pOther->tail);
}

MDITEM *CMetaData::Find(const char *name, QOR_INT32 prefixLen) {
    if (!name)
        return nullptr;
    QOR_INT32 len = Len(name, prefixLen);
    for (MDITEM *it = list; it; it = it->next)
        if (NameEquals(it->name, name, len))
            return it;
    return nullptr;
}

QOR_INT32 CMetaData::GetNItems() {
    QOR_INT32 n = 0;
    for (MDITEM *it = list; it; it = it->next)
        ++n;
    return n;
}

MDITEM *CMetaData::GetMetaAt(QOR_INT32 index) {
    MDITEM *it = list;
    for (QOR_INT32 i = 0; it && i < index; ++i)
        it = it->next;
    return it;
}

const char *CMetaData::GetMetaName(QOR_INT32 index) {
    MDITEM *it = GetMetaAt(index);
    return it ? it->name : nullptr;
}

const char *CMetaData::GetMetaStr(const char *name, const char *defVal) {
    MDITEM *it = Find(name, -1);
    return it ? it->sVal : defVal;
}

const char *CMetaData::GetMetaSubStr(const char *name, const char *defVal, QOR_INT32 index, QOR_INT32 *pLen,
                                     char separator) {
    MDITEM *it = Find(name, -1);
    if (!it) {
        if (pLen)
            *pLen = defVal ? Len(defVal, -1) : 0;
        return defVal;
    }
    const QOR_INT32 target = index < 0 ? 0 : index;
    const char *p = it->sVal;
    for (QOR_INT32 i = 0;; ++i) {
        while (IsWhite(*p))
            ++p;
        if (*p == '\0' && separator == ' ')
            return nullptr;
        const char *start = p;
        while (*p && *p != separator)
            ++p;
        if (i == target) {
            if (pLen)
                *pLen = static_cast<QOR_INT32>(p - start);
            return start;
        }
        if (*p == '\0')
            return nullptr;
        ++p; /* past the separator */
    }
}

const char *CMetaData::FindValue(const char *name, QOR_INT32 index, bool extendLast, QOR_INT32 *pLen) {
    MDITEM *it = Find(name, -1);
    if (!it)
        return nullptr;
    const QOR_INT32 target = index < 0 ? 0 : index;
    const char *p = it->sVal;
    const char *lastStart = nullptr;
    QOR_INT32 lastLen = 0;
    for (QOR_INT32 i = 0;; ++i) {
        while (IsWhite(*p))
            ++p;
        if (!*p)
            break;
        const char *start = p;
        while (*p && !IsWhite(*p))
            ++p;
        lastStart = start;
        lastLen = static_cast<QOR_INT32>(p - start);
        if (i == target) {
            *pLen = lastLen;
            return lastStart;
        }
    }
    if (!extendLast || !lastStart)
        return nullptr;
    *pLen = lastLen;
    return lastStart;
}

QOR_INT32 CMetaData::GetMetaInt(const char *name, QOR_INT32 defVal, QOR_INT32 index, bool extendLast) {
    QOR_INT32 len = 0;
    const char *v = FindValue(name, index, extendLast, &len);
    if (!v)
        return defVal;
    char buf[64];
    copyValue(buf, v, len);
    QOR_INT32 r;
    return ParseInt(buf, &r) ? r : defVal;
}

QOR_INT32 CMetaData::GetMetaInt(const char *name) { return GetMetaInt(name, 2147483647, 0, false); }

double CMetaData::GetMetaDouble(const char *name, double defVal, QOR_INT32 index, bool extendLast) {
    QOR_INT32 len = 0;
    const char *v = FindValue(name, index, extendLast, &len);
    if (!v)
        return defVal;
    char buf[400];
    copyValue(buf, v, len);
    double r;
    return ParseDouble(buf, &r) ? r : defVal;
}

QOR_INT32 CMetaData::GetMetaValCount(const char *name) {
    MDITEM *it = Find(name, -1);
    if (!it)
        return 0;
    QOR_INT32 n = 0;
    const char *p = it->sVal;
    while (*p) {
        while (IsWhite(*p))
            ++p;
        if (!*p)
            break;
        ++n;
        while (*p && !IsWhite(*p))
            ++p;
    }
    return n;
}

QOR_INT32 CMetaData::GetMetaEnum(const char *name, QOR_INT32 defVal, const char *enumStrings) {
    MDITEM *it = Find(name, -1);
    if (!it || !enumStrings)
        return defVal;
    QOR_INT32 i = 0;
    for (const char *w = enumStrings; *w; w += std::strlen(w) + 1, ++i)
        if (strcasecmp(w, it->sVal) == 0)
            return i;
    return defVal;
}

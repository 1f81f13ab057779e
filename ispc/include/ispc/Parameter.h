#ifndef ISPC_PARAMETER_H
#define ISPC_PARAMETER_H

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "ispc/ParameterDef.h"
#include "qor_errors.h"

namespace ISPC {

namespace detail {
/** Keeps a parameter out of template argument deduction. */
template <typename T> struct Same { typedef T type; };
} // namespace detail

/** One configuration entry: a tag, its values as text and an optional comment. */
class Parameter {
public:
    Parameter(const std::string &_tag, const std::string &value);
    Parameter(const std::string &_tag, const std::vector<std::string> &_values);

    /** 3 on an invalid parameter, 11 for an empty value, else appends it and returns 0. */
    QOR_RESULT addValue(const std::string &newValue);

    Parameter &setInfo(const std::string &newInfo);
    std::string getInfo() const { return info; }

    std::string getTag() const { return tag; }
    unsigned size() const { return static_cast<unsigned>(values.size()); }
    std::vector<std::string>::const_iterator begin() const { return values.begin(); }
    std::vector<std::string>::const_iterator end() const { return values.end(); }
    const std::vector<std::string> &getValues() const { return values; }
    bool isValid() const { return validParameter; }

    /** Value n; the empty string when invalid or out of range. */
    std::string getString(unsigned n) const;
    /** Value n, defVal when out of range; the empty string when invalid. */
    std::string getString(unsigned n, const std::string &defVal) const;

    /** Value n parsed and clamped into [tMin, tMax]; tDef when missing or unreadable. */
    template <typename T> T get(unsigned n, const T &tMin, const T &tMax, const T &tDef) const;
    /** Value n when it is one word, else tDef. */
    std::string get(unsigned n, const std::string &tDef) const;
    /** The boolean parse of value n (false when missing), success in isOk. */
    bool get(unsigned n, bool &isOk) const;

    friend bool operator==(const Parameter &lhs, const Parameter &rhs);
    friend std::ostream &operator<<(std::ostream &out, const Parameter &param);

private:
    std::string tag;
    std::vector<std::string> values;
    std::string info;
    bool validParameter;
};

bool operator==(const Parameter &lhs, const Parameter &rhs);
inline bool operator!=(const Parameter &lhs, const Parameter &rhs) { return !(lhs == rhs); }
std::ostream &operator<<(std::ostream &out, const Parameter &param);

/** The tags of one module's parameters and the header line written before them. */
struct ParameterGroup {
    std::string header;
    std::set<std::string> parameters;
};

/** Parameters by tag, plus named groups used when a list is written back to a file. */
class ParameterList {
public:
    typedef std::map<std::string, Parameter>::iterator iterator;
    typedef std::map<std::string, Parameter>::const_iterator const_iterator;
    typedef std::map<std::string, ParameterGroup>::iterator group_iterator;
    typedef std::map<std::string, ParameterGroup>::const_iterator const_group_iterator;

    ParameterList() : validFlag(true) {}

    /** 18 when the tag exists and overwrite is false; else stores a copy and returns 0. */
    QOR_RESULT addParameter(const Parameter &newParam, bool overwrite = false);
    const Parameter *getParameter(const std::string &tag) const;
    Parameter *getParameter(const std::string &tag);
    bool exists(const std::string &tag) const { return parameters.count(tag) != 0; }
    /** 0, or 3 when the tag is absent. */
    int removeParameter(const std::string &tag);

    ParameterList &operator+=(const ParameterList &list);

    std::string getParameterString(const std::string &tag, int n, const std::string &tDef) const;

    /** 18 when the group is empty or the name taken; else stores a copy and returns 0. */
    QOR_RESULT addGroup(const std::string &name, const ParameterGroup &group);
    bool hasGroup(const std::string &name) const { return groups.count(name) != 0; }
    ParameterGroup getGroup(const std::string &name) const;
    /** 0, or 11 when there is no such group. */
    QOR_RESULT removeGroup(const std::string &name);
    bool isInGroup(const std::string &tag) const;

    iterator begin() { return parameters.begin(); }
    iterator end() { return parameters.end(); }
    const_iterator begin() const { return parameters.begin(); }
    const_iterator end() const { return parameters.end(); }
    group_iterator groupsBegin() { return groups.begin(); }
    group_iterator groupsEnd() { return groups.end(); }
    const_group_iterator groupsBegin() const { return groups.begin(); }
    const_group_iterator groupsEnd() const { return groups.end(); }
    size_t size() const { return parameters.size(); }

    bool isValid() const { return validFlag; }
    void setValid(bool valid) { validFlag = valid; }

    /* Typed reads; none fails: missing or unreadable values give the default. */
    template <typename T> T getParameter(const std::string &str, int n, T tMin, T tMax, T tDef) const;
    bool getParameter(const std::string &str, int n, bool tDef) const;
    std::string getParameter(const std::string &str, int n, std::string tDef) const;
    /** A literal default reads as a string default, never as a boolean one. */
    std::string getParameter(const std::string &str, int n, const char *tDef) const {
        return getParameter(str, n, std::string(tDef != nullptr ? tDef : ""));
    }

    template <typename T> T getParameter(const ParamDef<T> &def) const {
        return getParameter<T>(def.name, 0, def.min, def.max, def.def);
    }
    template <typename T> T getParameter(const ParamDefArray<T> &def, unsigned n) const {
        return getParameter<T>(def.name, static_cast<int>(n), def.min, def.max, def.defaultAt(n));
    }
    bool getParameter(const ParamDefSingle<bool> &def) const { return getParameter(def.name, 0, def.def); }
    std::string getParameter(const ParamDefSingle<std::string> &def) const {
        return getParameter(def.name, 0, def.def);
    }

    /* Typed writes; each returns the result of addParameter. */
    template <typename T>
    QOR_RESULT addParameter(const ParamDef<T> &paramDef, const typename detail::Same<T>::type &value,
                            bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, toString(value)), overwrite);
    }
    QOR_RESULT addParameter(const ParamDefSingle<bool> &paramDef, bool value, bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, toString(value)), overwrite);
    }
    QOR_RESULT addParameter(const ParamDefSingle<std::string> &paramDef, const std::string &value,
                            bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, value), overwrite);
    }
    template <typename T>
    QOR_RESULT addParameter(const ParamDefArray<T> &paramDef, const std::vector<std::string> &values,
                            bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, values), overwrite);
    }

    template <typename T> QOR_RESULT addParameterMin(const ParamDef<T> &paramDef, bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, toString(paramDef.min)), overwrite);
    }
    template <typename T> QOR_RESULT addParameterMin(const ParamDefArray<T> &paramDef, bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, std::vector<std::string>(paramDef.n, toString(paramDef.min))),
                            overwrite);
    }
    QOR_RESULT addParameterMin(const ParamDefSingle<bool> &paramDef, bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, "0"), overwrite);
    }
    QOR_RESULT addParameterMin(const ParamDefSingle<std::string> &paramDef, bool overwrite = false) {
        return addParameterDef(paramDef, overwrite);
    }

    template <typename T> QOR_RESULT addParameterMax(const ParamDef<T> &paramDef, bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, toString(paramDef.max)), overwrite);
    }
    template <typename T> QOR_RESULT addParameterMax(const ParamDefArray<T> &paramDef, bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, std::vector<std::string>(paramDef.n, toString(paramDef.max))),
                            overwrite);
    }
    QOR_RESULT addParameterMax(const ParamDefSingle<bool> &paramDef, bool overwrite = false) {
        return addParameter(Parameter(paramDef.name, "1"), overwrite);
    }
    QOR_RESULT addParameterMax(const ParamDefSingle<std::string> &paramDef, bool overwrite = false) {
        return addParameterDef(paramDef, overwrite);
    }

    template <typename T> QOR_RESULT addParameterDef(const ParamDef<T> &paramDef, bool overwrite = false) {
        Parameter p(paramDef.name, toString(paramDef.def));
        p.setInfo(getParameterInfo(paramDef));
        return addParameter(p, overwrite);
    }
    /** An array definition without defaults adds nothing. */
    template <typename T> QOR_RESULT addParameterDef(const ParamDefArray<T> &paramDef, bool overwrite = false) {
        if (paramDef.n == 0) {
            return QOR_RES_OK;
        }
        std::vector<std::string> values;
        values.reserve(paramDef.n);
        for (unsigned i = 0; i < paramDef.n; i++) {
            values.push_back(toString(paramDef.def[i]));
        }
        Parameter p(paramDef.name, values);
        p.setInfo(getParameterInfo(paramDef));
        return addParameter(p, overwrite);
    }
    QOR_RESULT addParameterDef(const ParamDefSingle<bool> &paramDef, bool overwrite = false) {
        Parameter p(paramDef.name, toString(paramDef.def));
        p.setInfo(getParameterInfo(paramDef));
        return addParameter(p, overwrite);
    }
    QOR_RESULT addParameterDef(const ParamDefSingle<std::string> &paramDef, bool overwrite = false) {
        Parameter p(paramDef.name, paramDef.def);
        p.setInfo(getParameterInfo(paramDef));
        return addParameter(p, overwrite);
    }

    friend bool operator==(const ParameterList &lhs, const ParameterList &rhs);

private:
    std::map<std::string, Parameter> parameters;
    std::map<std::string, ParameterGroup> groups;
    bool validFlag;
};

bool operator==(const ParameterList &lhs, const ParameterList &rhs);
inline bool operator!=(const ParameterList &lhs, const ParameterList &rhs) { return !(lhs == rhs); }
std::ostream &operator<<(std::ostream &out, const ParameterList &param);

template <typename T> T Parameter::get(unsigned n, const T &tMin, const T &tMax, const T &tDef) const {
    if (!validParameter || n >= values.size()) {
        return tDef;
    }
    bool ok = false;
    T v = parse<T>(values[n], ok);
    if (!ok) {
        return tDef;
    }
    if (v < tMin) {
        v = tMin;
    }
    if (!(v < tMax)) {
        v = tMax;
    }
    return v;
}

template <typename T> T ParameterList::getParameter(const std::string &str, int n, T tMin, T tMax, T tDef) const {
    const Parameter *p = getParameter(str);
    if (p == nullptr) {
        return tDef;
    }
    return p->get<T>(static_cast<unsigned>(n), tMin, tMax, tDef);
}

} // namespace ISPC

#endif /* ISPC_PARAMETER_H */

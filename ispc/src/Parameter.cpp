#include "ispc/Parameter.h"

namespace ISPC {

Parameter::Parameter(const std::string &_tag, const std::string &value) : tag(_tag), validParameter(!_tag.empty()) {
    if (validParameter) {
        addValue(value);
    }
}

Parameter::Parameter(const std::string &_tag, const std::vector<std::string> &_values)
    : tag(_tag), validParameter(!_tag.empty()) {
    if (validParameter) {
        values = _values;
    }
}

QOR_RESULT Parameter::addValue(const std::string &newValue) {
    if (!validParameter) {
        return QOR_RES_FAILED;
    }
    if (newValue.empty()) {
        return QOR_RES_INVALID_PARAM;
    }
    values.push_back(newValue);
    return QOR_RES_OK;
}

Parameter &Parameter::setInfo(const std::string &newInfo) {
    info = newInfo;
    return *this;
}

std::string Parameter::getString(unsigned n) const {
    if (!validParameter || n >= values.size()) {
        return std::string();
    }
    return values[n];
}

std::string Parameter::getString(unsigned n, const std::string &defVal) const {
    if (!validParameter) {
        return std::string();
    }
    return n < values.size() ? values[n] : defVal;
}

std::string Parameter::get(unsigned n, const std::string &tDef) const {
    if (!validParameter || n >= values.size()) {
        return tDef;
    }
    bool ok = false;
    std::string v = parse<std::string>(values[n], ok);
    return ok ? v : tDef;
}

bool Parameter::get(unsigned n, bool &isOk) const {
    if (!validParameter || n >= values.size()) {
        isOk = false;
        return false;
    }
    return parse<bool>(values[n], isOk);
}

bool operator==(const Parameter &lhs, const Parameter &rhs) { return lhs.tag == rhs.tag && lhs.values == rhs.values; }

std::ostream &operator<<(std::ostream &out, const Parameter &param) {
    out << param.tag << " ";
    for (const std::string &v : param.values) {
        out << v << " ";
    }
    if (!param.info.empty()) {
        out << " // " << param.info;
    }
    out << std::endl;
    return out;
}

QOR_RESULT ParameterList::addParameter(const Parameter &newParam, bool overwrite) {
    const std::string tag = newParam.getTag();
    auto it = parameters.find(tag);
    if (it != parameters.end()) {
        if (!overwrite) {
            return QOR_RES_ALREADY;
        }
        it->second = newParam;
        return QOR_RES_OK;
    }
    parameters.emplace(tag, newParam);
    return QOR_RES_OK;
}

const Parameter *ParameterList::getParameter(const std::string &tag) const {
    auto it = parameters.find(tag);
    return it == parameters.end() ? nullptr : &it->second;
}

Parameter *ParameterList::getParameter(const std::string &tag) {
    auto it = parameters.find(tag);
    return it == parameters.end() ? nullptr : &it->second;
}

int ParameterList::removeParameter(const std::string &tag) {
    return parameters.erase(tag) != 0 ? QOR_RES_OK : QOR_RES_FAILED;
}

ParameterList &ParameterList::operator+=(const ParameterList &list) {
    if (&list == this) {
        return *this;
    }
    for (const auto &entry : list.parameters) {
        addParameter(entry.second, true);
    }
    return *this;
}

std::string ParameterList::getParameterString(const std::string &tag, int n, const std::string &tDef) const {
    const Parameter *p = getParameter(tag);
    if (p == nullptr) {
        return tDef;
    }
    return p->getString(static_cast<unsigned>(n), tDef);
}

QOR_RESULT ParameterList::addGroup(const std::string &name, const ParameterGroup &group) {
    if (group.parameters.empty() || groups.count(name) != 0) {
        return QOR_RES_ALREADY;
    }
    groups.emplace(name, group);
    return QOR_RES_OK;
}

ParameterGroup ParameterList::getGroup(const std::string &name) const {
    auto it = groups.find(name);
    return it == groups.end() ? ParameterGroup() : it->second;
}

QOR_RESULT ParameterList::removeGroup(const std::string &name) {
    return groups.erase(name) != 0 ? QOR_RES_OK : QOR_RES_INVALID_PARAM;
}

bool ParameterList::isInGroup(const std::string &tag) const {
    for (const auto &g : groups) {
        if (g.second.parameters.count(tag) != 0) {
            return true;
        }
    }
    return false;
}

bool ParameterList::getParameter(const std::string &str, int n, bool tDef) const {
    const Parameter *p = getParameter(str);
    if (p == nullptr) {
        return tDef;
    }
    bool ok = false;
    bool v = p->get(static_cast<unsigned>(n), ok);
    return ok ? v : tDef;
}

std::string ParameterList::getParameter(const std::string &str, int n, std::string tDef) const {
    const Parameter *p = getParameter(str);
    if (p == nullptr) {
        return tDef;
    }
    return p->get(static_cast<unsigned>(n), tDef);
}

bool operator==(const ParameterList &lhs, const ParameterList &rhs) {
    if (lhs.parameters.size() != rhs.parameters.size()) {
        return false;
    }
    auto l = lhs.parameters.begin();
    auto r = rhs.parameters.begin();
    for (; l != lhs.parameters.end(); ++l, ++r) {
        if (l->first != r->first || l->second != r->second) {
            return false;
        }
    }
    return true;
}

std::ostream &operator<<(std::ostream &out, const ParameterList &param) {
    for (const auto &entry : param) {
        out << entry.second;
    }
    return out;
}

} // namespace ISPC

#ifndef ISPC_PARAMETERDEF_H
#define ISPC_PARAMETERDEF_H

#include <sstream>
#include <string>
#include <vector>

namespace ISPC {

/*
 * Text conversions of parameter values.
 *
 * parse() reads one value with the stream's standard extraction, leading white space not skipped;
 * isOk is true only when the whole text was consumed without error. The extracted value is returned
 * whatever isOk says.
 */
template <typename T> T parse(const std::string &str, bool &isOk) {
    std::istringstream is(str);
    is >> std::noskipws;
    T value{};
    is >> value;
    isOk = !is.fail() && !is.bad() && is.eof();
    return value;
}

/** Booleans read as integers: any integer but 0 is true. */
template <> inline bool parse<bool>(const std::string &str, bool &isOk) { return parse<int>(str, isOk) != 0; }

/** QOR_BOOL8 (unsigned char) reads as an integer flag: 1 when not zero, else 0. */
template <> inline unsigned char parse<unsigned char>(const std::string &str, bool &isOk) {
    return parse<int>(str, isOk) != 0 ? 1 : 0;
}

/** A char reads as an integer cut to a char. */
template <> inline char parse<char>(const std::string &str, bool &isOk) {
    return static_cast<char>(parse<int>(str, isOk));
}

/** Integers in decimal, floating-point values with 6 significant digits (as printf's %g). */
template <typename T> std::string toString(const T &value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

template <> inline std::string toString<float>(const float &value) {
    return toString<double>(static_cast<double>(value));
}

template <> inline std::string toString<bool>(const bool &value) { return value ? "1" : "0"; }

template <> inline std::string toString<unsigned char>(const unsigned char &value) { return value ? "1" : "0"; }

template <> inline std::string toString<char>(const char &value) {
    return toString<int>(static_cast<int>(static_cast<unsigned char>(value)));
}

template <> inline std::string toString<std::string>(const std::string &value) { return value; }

/** Base of every parameter definition: the parameter's tag. */
template <class Derived> struct ParamAbstract {
    std::string name;

    explicit ParamAbstract(const std::string &n) : name(n) {}

    /** A copy of the definition named NAME_index. */
    Derived indexed(unsigned index) const {
        Derived copy(static_cast<const Derived &>(*this));
        copy.name = name + "_" + std::to_string(index);
        return copy;
    }
};

/** A scalar with a range and a default. */
template <typename T> struct ParamDef : public ParamAbstract<ParamDef<T>> {
    T min;
    T max;
    T def;

    ParamDef(const std::string &n, T m, T M, T d) : ParamAbstract<ParamDef<T>>(n), min(m), max(M), def(d) {}
};

/**
 * An array of values sharing one range. The definition owns a copy of its defaults; element i
 * defaults to def[i % n].
 */
template <typename T> struct ParamDefArray : public ParamAbstract<ParamDefArray<T>> {
    T min;
    T max;
    std::vector<T> def;
    unsigned int n;

    ParamDefArray(const std::string &name, T m, T M, const T *d, unsigned int tn)
        : ParamAbstract<ParamDefArray<T>>(name), min(m), max(M),
          def(d != nullptr ? std::vector<T>(d, d + tn) : std::vector<T>()), n(static_cast<unsigned int>(def.size())) {}

    /** Default of element i; a definition without defaults gives the value-initialised T. */
    T defaultAt(unsigned int i) const { return n > 0 ? def[i % n] : T(); }
};

/** A value without range: bool or std::string. */
template <typename T> struct ParamDefSingle : public ParamAbstract<ParamDefSingle<T>> {
    T def;

    ParamDefSingle(const std::string &n, T d) : ParamAbstract<ParamDefSingle<T>>(n), def(d) {}
};

namespace detail {
template <typename T> struct RangeTypeName;
template <> struct RangeTypeName<int> { static constexpr const char *value = "int"; };
template <> struct RangeTypeName<short> { static constexpr const char *value = "int"; };
template <> struct RangeTypeName<unsigned int> { static constexpr const char *value = "unsigned"; };
template <> struct RangeTypeName<float> { static constexpr const char *value = "float"; };
template <> struct RangeTypeName<double> { static constexpr const char *value = "double"; };
} // namespace detail

/** The range description written as the comment of a default line. */
template <typename T> std::string getParameterInfo(const ParamDef<T> &p) {
    std::ostringstream os;
    os << detail::RangeTypeName<T>::value << " range=[" << p.min << "," << p.max << "]";
    return os.str();
}

template <typename T> std::string getParameterInfo(const ParamDefArray<T> &p) {
    std::ostringstream os;
    os << detail::RangeTypeName<T>::value << "[" << p.n << "] range=[" << p.min << "," << p.max << "]";
    return os.str();
}

inline std::string getParameterInfo(const ParamDefSingle<bool> &) { return "bool {0,1}"; }
inline std::string getParameterInfo(const ParamDefSingle<std::string> &) { return "string"; }

} // namespace ISPC

#endif /* ISPC_PARAMETERDEF_H */

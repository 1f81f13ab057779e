#ifndef ISPC_SETUPMODULEIMPL_H
#define ISPC_SETUPMODULEIMPL_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "ispc/Parameter.h"
#include "ispc/SetupModule.h"
#include "norvacommon/userlog.h"

namespace ISPC {

/**
 * One entry of a setup module's parameter table: the tag it reads and writes and how a module of
 * type M loads it from a list and saves it with each kind of save.
 */
template <class M> struct ParamBinding {
    typedef std::function<void(M &, const ParameterList &)> LoadFn;
    typedef std::function<void(const M &, ParameterList &, ModuleBase::SaveType)> SaveFn;

    std::string tag;
    LoadFn load;
    SaveFn save;

    /** Replaces the range comment that SAVE_DEF writes (for parameters whose range the module narrows). */
    ParamBinding &withDefInfo(const std::string &info) {
        SaveFn inner = save;
        std::string t = tag;
        save = [inner, t, info](const M &m, ParameterList &list, ModuleBase::SaveType kind) {
            inner(m, list, kind);
            Parameter *p = list.getParameter(t);
            if (kind == ModuleBase::SAVE_DEF && p != nullptr) {
                p->setInfo(info);
            }
        };
        return *this;
    }
};

/**
 * The one implementation of the setup-module pattern.
 *
 * Derived provides:
 *   - static const std::vector<ParamBinding<Derived>> &bindings(): its parameter table, in save order;
 *   - static const char *const GROUP_NAME (the class name) and GROUP_HEADER (a comment line);
 *   - QOR_RESULT writeSetup(MC &mc): writes its block(s) of the MC configuration, marking each with
 *     markUpdated(); its setup() is then `return timedSetup(getPipeline());`.
 * These are public (or Derived befriends this template). Its constructor calls loadDefaults()
 * once its members exist.
 *
 * Hooks Derived may hide: beforeLoad / afterLoad (hand-written steps around the table), afterSave
 * (extra parameters), getGroup (a group other than the table's tags). A parameter that needs its own
 * reader or writer goes into the table through custom().
 */
template <class Derived, SetupID ID> class SetupModuleImpl : public SetupModuleBase<ID> {
public:
    typedef ParamBinding<Derived> Binding;

    explicit SetupModuleImpl(const std::string &loggingName) : SetupModuleBase<ID>(loggingName) {}

    QOR_RESULT load(const ParameterList &parameters) override {
        Derived &self = static_cast<Derived &>(*this);
        QOR_RESULT ret = self.beforeLoad(parameters);
        if (ret != QOR_RES_OK) {
            return ret;
        }
        for (const Binding &b : Derived::bindings()) {
            b.load(self, parameters);
        }
        return self.afterLoad(parameters);
    }

    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, ModuleBase::SaveType t) const override {
        const Derived &self = static_cast<const Derived &>(*this);
        // The list keeps a group it already has; built once per process, thread-safe.
        static const ParameterGroup group = Derived::getGroup();
        parameters.addGroup(Derived::GROUP_NAME, group);
        for (const Binding &b : Derived::bindings()) {
            b.save(self, parameters, t);
        }
        return self.afterSave(parameters, t);
    }

    /** The group of the table's tags under the module's header. */
    static ParameterGroup getGroup() {
        ParameterGroup g;
        g.header = Derived::GROUP_HEADER;
        for (const Binding &b : Derived::bindings()) {
            g.parameters.insert(b.tag);
        }
        return g;
    }

protected:
    /* Default hooks: nothing to do. */
    QOR_RESULT beforeLoad(const ParameterList &) { return QOR_RES_OK; }
    QOR_RESULT afterLoad(const ParameterList &) { return QOR_RES_OK; }
    QOR_RESULT afterSave(ParameterList &, ModuleBase::SaveType) const { return QOR_RES_OK; }

    /** The defaults, as the module is constructed. */
    void loadDefaults() { this->load(ParameterList()); }

    /**
     * The standard set-up: no pipeline or no MC configuration gives 15 with the usual messages and
     * changes nothing; otherwise Derived::writeSetup writes the block(s) and the module counts as set up.
     */
    template <class P> QOR_RESULT standardSetup(P *pipe) {
        if (pipe == nullptr) {
            QOR_LOG_ERROR(this->getLoggingName(), "pipeline not set!\n");
            return QOR_RES_UNAVAILABLE;
        }
        auto *mc = pipe->getMCPipeline();
        if (mc == nullptr) {
            QOR_LOG_ERROR(this->getLoggingName(), "pMCPipeline not set!\n");
            return QOR_RES_UNAVAILABLE;
        }
        QOR_RESULT ret = static_cast<Derived &>(*this).writeSetup(*mc);
        if (ret != QOR_RES_OK) {
            return ret;
        }
        this->setupFlag = true;
        return QOR_RES_OK;
    }

    /** setup() of a module on its pipeline: the standard set-up, bracketed by the performance hooks. */
    template <class P> QOR_RESULT timedSetup(P *pipe) {
        LOG_Perf_In(this->getLoggingName(), __FILE__, "setup", __LINE__);
        const QOR_RESULT ret = standardSetup(pipe);
        if (ret == QOR_RES_OK) {
            LOG_Perf_Out(this->getLoggingName(), __FILE__, "setup", __LINE__);
        }
        return ret;
    }

    template <class Block> static void markUpdated(Block &block) { block.updateNeeded = true; }

    /* Table entries. V is the member's type, T the definition's; values are converted between them. */

    template <typename T, typename V> static Binding bind(const ParamDef<T> &def, V Derived::*member) {
        Binding b;
        b.tag = def.name;
        b.load = [def, member](Derived &m, const ParameterList &list) {
            m.*member = static_cast<V>(list.getParameter(def));
        };
        b.save = [def, member](const Derived &m, ParameterList &list, ModuleBase::SaveType t) {
            saveParameter(list, t, def, static_cast<T>(m.*member));
        };
        return b;
    }

    /** The first count elements of a C array member. */
    template <typename T, typename V, size_t N>
    static Binding bind(const ParamDefArray<T> &def, V (Derived::*member)[N], unsigned count = N) {
        if (count > N) {
            count = N;
        }
        Binding b;
        b.tag = def.name;
        b.load = [def, member, count](Derived &m, const ParameterList &list) {
            for (unsigned i = 0; i < count; i++) {
                (m.*member)[i] = static_cast<V>(list.getParameter(def, i));
            }
        };
        b.save = [def, member, count](const Derived &m, ParameterList &list, ModuleBase::SaveType t) {
            saveArray(
                def, list, t, [&](unsigned i) { return static_cast<T>((m.*member)[i]); }, count);
        };
        return b;
    }

    /** A vector member holding count elements. */
    template <typename T, typename V>
    static Binding bind(const ParamDefArray<T> &def, std::vector<V> Derived::*member, unsigned count) {
        Binding b;
        b.tag = def.name;
        b.load = [def, member, count](Derived &m, const ParameterList &list) {
            (m.*member).resize(count);
            for (unsigned i = 0; i < count; i++) {
                (m.*member)[i] = static_cast<V>(list.getParameter(def, i));
            }
        };
        b.save = [def, member, count](const Derived &m, ParameterList &list, ModuleBase::SaveType t) {
            const std::vector<V> &v = m.*member;
            const unsigned n = count < v.size() ? count : static_cast<unsigned>(v.size());
            saveArray(
                def, list, t, [&](unsigned i) { return static_cast<T>(v[i]); }, n);
        };
        return b;
    }

    /** A switch: a bool or flag member. */
    template <typename V> static Binding bind(const ParamDefSingle<bool> &def, V Derived::*member) {
        Binding b;
        b.tag = def.name;
        b.load = [def, member](Derived &m, const ParameterList &list) {
            m.*member = static_cast<V>(list.getParameter(def));
        };
        b.save = [def, member](const Derived &m, ParameterList &list, ModuleBase::SaveType t) {
            saveParameter(list, t, def, static_cast<bool>(m.*member));
        };
        return b;
    }

    static Binding bind(const ParamDefSingle<std::string> &def, std::string Derived::*member) {
        Binding b;
        b.tag = def.name;
        b.load = [def, member](Derived &m, const ParameterList &list) { m.*member = list.getParameter(def); };
        b.save = [def, member](const Derived &m, ParameterList &list, ModuleBase::SaveType t) {
            saveParameter(list, t, def, m.*member);
        };
        return b;
    }

    /** A parameter with a hand-written reader and writer. */
    static Binding custom(const std::string &tag, typename Binding::LoadFn load, typename Binding::SaveFn save) {
        Binding b;
        b.tag = tag;
        b.load = std::move(load);
        b.save = std::move(save);
        return b;
    }

private:
    template <typename T, typename Get>
    static void saveArray(const ParamDefArray<T> &def, ParameterList &list, ModuleBase::SaveType t, Get get,
                          unsigned count) {
        std::vector<std::string> values;
        if (t == ModuleBase::SAVE_VAL) {
            values.reserve(count);
            for (unsigned i = 0; i < count; i++) {
                values.push_back(toString(get(i)));
            }
        }
        saveParameter(list, t, def, values);
    }
};

} // namespace ISPC

#endif /* ISPC_SETUPMODULEIMPL_H */

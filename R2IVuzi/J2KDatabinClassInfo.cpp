#include "R2IVuzi/J2KDatabinClassInfo.h"

#include "platform/ModuleStartup.h"

#include <boost/scoped_ptr.hpp>

#include <stdexcept>

namespace {

boost::scoped_ptr<std::vector<CJ2KDatabinClassInfo>> g_table;

const StartupRegistrar kDatabinClassTable(
    8, 0, "data-bin class table",
    [] {
        g_table.reset(new std::vector<CJ2KDatabinClassInfo>{
            {0, 0, "P"}, {1, 2, "H"}, {2, 4, "T"}, {3, 6, "Hm"}, {4, 8, "M"}});
    },
    [] { g_table.reset(); });

} // namespace

const std::vector<CJ2KDatabinClassInfo>& GetDatabinClassTable()
{
    if (!g_table)
        throw std::logic_error("data-bin class table used while the module is not loaded");
    return *g_table;
}

// The data-bin class table lives from module load to unload.
#include "R2IVuzi/J2KDatabinClassInfo.h"
#include "platform/ModuleStartup.h"
#include "support/GridHarness.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(DatabinClassTable, RowsInModelOrderWhileLoaded)
{
    gridtest::FreshModule module;
    ASSERT_TRUE(module.loaded());
    const auto& rows = GetDatabinClassTable();
    ASSERT_EQ(rows.size(), 5u);
    const char* codes[] = {"P", "H", "T", "Hm", "M"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(rows[size_t(i)].cacheClass, i);
        EXPECT_EQ(rows[size_t(i)].streamClass, 2 * i); // the stream identifier halved is the cache class
        EXPECT_EQ(rows[size_t(i)].code, codes[i]);
    }
    ModuleUnload();
    EXPECT_THROW(GetDatabinClassTable(), std::logic_error);
}

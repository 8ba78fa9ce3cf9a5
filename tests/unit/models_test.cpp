// SPDX-License-Identifier: Apache-2.0
// The model table's device matching, as auto-adding uses it.
#include <gtest/gtest.h>

#include "models/model_table.hpp"

namespace {

TEST(ModelTable, DeviceMatchesByManufacturerAndModelInAnyCase)
{
    struct Case {
        const char* mfg;
        const char* mdl;
        const char* driver;  // null: none
    } cases[] = {
        {"Zarelle", "ZX-4200", "zarelle_zx4200"},
        {"ZARELLE", "zx-6500c", "zarelle_zx6500c"},
        {"Zarelle", "ZX-42", nullptr},
        {"Zarelle", "ZX-4200 PDF", nullptr},
        {"Other", "ZX-2100", nullptr},
    };
    for (const Case& c : cases) {
        const pdftopjl::PrinterModel* found = pdftopjl::FindModelByDevice(c.mfg, c.mdl);
        EXPECT_STREQ(found != nullptr ? found->driver : nullptr, c.driver) << c.mfg << " " << c.mdl;
    }
}

}  // namespace

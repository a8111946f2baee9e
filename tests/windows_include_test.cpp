// Every header of the portable code compiles after <windows.h>: the Windows numbers
// they use are the Windows headers' own, never defined a second time.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/export_run.h"
#include "app/line_reader.h"
#include "common/mbstring.h"
#include "export/catalogue.h"
#include "export/history_writer.h"
#include "export/virus_type_flags.h"
#include "location/data_folder.h"
#include "logentry/log_entry.h"
#include "platform/codes.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "resources/string_table.h"

namespace {

TEST(WindowsHeaders, NumbersAreTheWindowsOnes)
{
    EXPECT_EQ(ERROR_MORE_DATA, 234);
    EXPECT_EQ(CSIDL_COMMON_APPDATA, 0x23);
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, 0x10u);
    EXPECT_EQ(ERR_PRODUCT_NOT_INSTALLED & 0x20000000u, 0x20000000u);
}

}  // namespace

// initPlugin with a real database: failures it does not handle leave it as records.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "plugin/callout_registry.h"
#include "plugin/init_plugin.h"
#include "support/database_fixture.h"
#include "support/host_calls.h"

namespace hcs {
namespace {

using test::initDoc;

// Failures initPlugin does not handle leave it as records; the SYSTEM_PARAM read is one (the file has no
// table).
class InitPluginUnhandled : public test::RealDatabaseTest {};

TEST_P(InitPluginUnhandled, LeavesAsTheRecordWithTheBufferUntouched) {
  test::TempDir dir;
  const std::string ini = dir.write("a.ini", "[ATTR_URI]\nOTHER=http://h/\n");
  const std::string missing = dir.file("none.ini");
  for (const auto& [document, text] :
       {std::pair<std::string, std::string>{initDoc(ini, "NAME", "842"),
                                            "Cannot get parameter [ATTR_URI:NAME] from parameter store"},
        {initDoc(missing, "NAME", "842"), "Failed to open ini file for reading [" + missing + "]"},
        {std::string("not xml at all"), "Failed to open ini file for reading []"},  // all five values empty
        {initDoc(ini, "OTHER", "842", target_.uri),
         "Failed to load general configuration, please check the SYSTEM_PARAM file or table!"}}) {
    std::string buffer(8, '#');
    try {
      initializePlugin(document.data(), static_cast<int32_t>(document.size()), buffer.data());
      ADD_FAILURE() << "no exception: " << document;
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(toStdString(e.entry(e.entryCount() - 1).text()), text) << document;
    }
    EXPECT_EQ(buffer, "########") << document;
  }
  EXPECT_EQ(calloutRegistry().find(842), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Databases, InitPluginUnhandled, ::testing::Values("sqlite"));

}  // namespace
}  // namespace hcs

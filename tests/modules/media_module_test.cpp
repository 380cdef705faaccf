// The media module against simulated devices.
#include "frontend_message.h"
#include "module_fixture.h"

namespace {

class MediaModuleTest : public ModuleTest {
 protected:
  int64_t FinalCode(uint32_t command, const std::string& extra) {
    auto messages = Run(command, DeviceJson(extra));
    return messages.empty() ? -1 : messages.back().code;
  }
};

// 1011 only checks that it was given a list of item pids.
TEST_F(MediaModuleTest, MediaItemOperationNeedsAnArrayOfItemPids) {
  StartWith("demo");
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":[1,2,3]})"), 0);
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":[]})"), 0);
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":7})"), 8);
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":"1,2"})"), 8);
  EXPECT_EQ(FinalCode(1011, R"("info":{})"), 8);
  EXPECT_EQ(FinalCode(1011, ""), 8);
}

}  // namespace

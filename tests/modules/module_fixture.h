// Tandrel started against the simulated device, with one device ready, for module tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tandrel_harness.h"
#include "vdevice_fixture.h"

class ModuleTest : public ::testing::Test {
 protected:
  // Generates a profile, lets `edit` change its folder, serves it, starts Tandrel and waits until
  // the device is ready.
  void StartWith(const std::string& kind, const std::function<void(const std::string& profile)>& edit = nullptr);

  // The command JSON for the ready device, with further members (JSON text of an object's inside).
  std::string DeviceJson(const std::string& extra = std::string()) const;
  static std::string Compressed(const std::string& json);
  // Runs a command and returns every message up to its final reply.
  std::vector<frontend::Message> Run(uint32_t command, const std::string& json,
                                     const std::string& attachment = std::string(), uint64_t task = 0);
  std::string DeviceFile(const std::string& device_path) const { return profile + "/afc" + device_path; }
  uint64_t NextTask() { return ++task_counter_; }

  vdevice_test::VdeviceFixture vd;
  // Further environment for the Tandrel that StartWith starts.
  std::map<std::string, std::string> environment;
  // 1: the Tandrel that StartWith starts writes its log, which Logs() reads.
  int open_log = 0;
  std::string Logs() const;
  // Plug-in folders the Tandrel that StartWith starts loads.
  std::vector<std::string> load_modules;
  std::unique_ptr<harness::Tandrel> tandrel;
  std::string profile;
  std::string udid;
  int64_t code = 0;

 private:
  uint64_t task_counter_ = 1000;
};

// The JSON object of a message's attachment (inflated by the front-end library).
rapidjson::Document AttachmentJson(const frontend::Message& message);
// The member names of an object, in order.
std::vector<std::string> Keys(const rapidjson::Value& object);

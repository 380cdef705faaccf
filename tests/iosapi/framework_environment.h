// Loads the device framework built in this tree once for the tests that need CF objects.
#pragma once

#include <gtest/gtest.h>

#include "iOSAPI/mobile_export_fun.h"
#include "platform/kst_process.h"

inline bool LoadBuiltFramework() {
  static const bool loaded = [] {
    kst::SetEnv("TANDREL_REGISTRY", std::string(TANDREL_LIB_DIR) + "/../etc/tandrel/registry.json");
    return CMobileExportFun::GetInstance().Init();
  }();
  return loaded;
}

#define REQUIRE_FRAMEWORK() ASSERT_TRUE(LoadBuiltFramework()) << "the device framework of the build tree did not load"

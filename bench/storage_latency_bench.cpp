// Latency of the basic-information command (300: the device summary, the storage report, then the
// final reply) through a running Tandrel, on a device whose asset metrics list 50 categories
// beside the demo device as it is generated (the baseline), both served by one vdevice and
// measured alternately in the same run; prints median and 90th percentile and their ratios.
#include <rapidjson/document.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_frontend.h"
#include "bench_support.h"
#include "platform/kst_fs.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kBasicInfo = 300;
constexpr int kRuns = 20;
constexpr rapidjson::SizeType kWideCategories = 50;
// A UDID of its own lets the demo kind be served twice.
constexpr const char* kWideUdid = "00008110-0000BE4C50CA7E50";

struct DeviceUnderTest {
  std::string label;
  std::string udid;
  int64_t code = 0;
  rapidjson::SizeType categories = 0;
  std::string marker;  // a key the storage reply must carry; empty: none
  std::vector<double> samples_ms;
  double first_ms = 0;
};

rapidjson::Value* AssetMetricsParams(rapidjson::Document& script) {
  if (!script.IsObject() || !script.HasMember("steps") || !script["steps"].IsArray()) return nullptr;
  for (auto& step : script["steps"].GetArray()) {
    if (!step.IsObject() || !step.HasMember("send")) continue;
    rapidjson::Value& message = step["send"];
    if (message.IsObject() && message.HasMember("Command") && message["Command"] == "AssetMetrics" &&
        message.HasMember("Params") && message["Params"].IsObject()) {
      return &message["Params"];
    }
  }
  return nullptr;
}

rapidjson::SizeType CategoryCount(const rapidjson::Value& params) {
  rapidjson::SizeType count = 0;
  for (const auto& member : params.GetObject()) count += member.value.IsObject() ? 1 : 0;
  return count;
}

std::string CategoryName(rapidjson::SizeType number) {
  char name[32];
  std::snprintf(name, sizeof(name), "Category%02u", static_cast<unsigned>(number));
  return name;
}

// A category shaped like the generated ones: size and count, and one nested sub-category.
rapidjson::Value MakeCategory(rapidjson::SizeType number, rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value nested(rapidjson::kObjectType);
  nested.AddMember("_PhysicalSize", static_cast<int64_t>(number) * 65536, allocator);
  nested.AddMember("_Count", static_cast<int64_t>(number), allocator);
  rapidjson::Value category(rapidjson::kObjectType);
  category.AddMember("_PhysicalSize", static_cast<int64_t>(number) * 16777216, allocator);
  category.AddMember("_Count", static_cast<int64_t>(number) * 3, allocator);
  category.AddMember("Cache", nested, allocator);
  return category;
}

// Tops the demo script's categories up to kWideCategories; the last one's "_Count" key becomes
// the marker that the storage reply must carry.
bool WidenAssetMetrics(const std::string& profile, std::string* marker) {
  return vdevice_test::VdeviceFixture::EditAtcScript(profile, [&](rapidjson::Document& script) {
    rapidjson::Value* params = AssetMetricsParams(script);
    if (!params) return;
    for (rapidjson::SizeType number = CategoryCount(*params) + 1; number <= kWideCategories; ++number) {
      rapidjson::Value name(CategoryName(number).c_str(), script.GetAllocator());
      params->AddMember(name, MakeCategory(number, script.GetAllocator()), script.GetAllocator());
      *marker = CategoryName(number) + "_Count";
    }
  });
}

rapidjson::SizeType ScriptCategories(const std::string& profile) {
  std::string text;
  rapidjson::Document script;
  if (!kst::ReadWholeFile(profile + "/atc/script.json", &text) || script.Parse(text.c_str()).HasParseError()) {
    return 0;
  }
  rapidjson::Value* params = AssetMetricsParams(script);
  return params ? CategoryCount(*params) : 0;
}

// One command 300; its latency in ms, or a negative number when its replies are not two data
// replies and a successful final reply.
double TimeBasicInfo(frontend::Link& link, const DeviceUnderTest& device) {
  uint64_t task = bench::NextTaskId();
  bench::Clock::time_point start = bench::Clock::now();
  if (!link.Send(kBasicInfo, task, frontend::DeviceCommandJson(device.udid, device.code))) return -1;
  std::vector<frontend::Message> replies = link.CollectUntilFinal(task, 30s);
  double elapsed_ms = bench::SecondsSince(start) * 1000;
  bool shaped = replies.size() == 3 && replies[0].status == 2 && replies[1].status == 2 && replies[2].status == 1 &&
                replies[2].code == 0;
  if (!shaped) return -1;
  if (!device.marker.empty() && replies[1].attachment.find(device.marker) == std::string::npos) return -1;
  return elapsed_ms;
}

void PrintRow(const DeviceUnderTest& device, const bench::LatencySummary& summary,
              const bench::LatencySummary& baseline) {
  std::printf("%-34s %10u %9.2f %10.2f %8.2f %13.3f %10.3f\n", device.label.c_str(), device.categories,
              device.first_ms, summary.median_ms, summary.p90_ms, summary.median_ms / baseline.median_ms,
              summary.p90_ms / baseline.p90_ms);
}

int Run() {
  vdevice_test::VdeviceFixture vd;
  std::string demo = vd.MakeProfile("demo");
  std::string wide = vd.MakeProfile("demo", "wide", kWideUdid);
  DeviceUnderTest baseline;
  baseline.label = "demo profile (baseline)";
  baseline.udid = vdevice_test::VdeviceFixture::ProfileUdid(demo);
  DeviceUnderTest widened;
  widened.label = "demo, 50 AssetMetrics categories";
  widened.udid = kWideUdid;
  if (demo.empty() || wide.empty() || !WidenAssetMetrics(wide, &widened.marker)) {
    std::fprintf(stderr, "cannot generate the profiles\n");
    return 1;
  }
  baseline.categories = ScriptCategories(demo);
  widened.categories = ScriptCategories(wide);
  if (widened.categories != kWideCategories || !vd.Start({demo, wide})) {
    std::fprintf(stderr, "cannot serve the simulated iPhones (%u categories)\n%s", widened.categories,
                 vd.ServerLog().c_str());
    return 1;
  }
  std::unique_ptr<harness::Tandrel> tandrel = bench::StartTandrelFor(vd);
  if (!tandrel) return 1;
  auto ready = bench::WaitForReadyDevices(tandrel->Link(), 2, 60s);
  if (ready.count(baseline.udid) == 0 || ready.count(widened.udid) == 0) {
    std::fprintf(stderr, "the devices did not become ready\n%s", vd.ServerLog().c_str());
    return 1;
  }
  baseline.code = ready[baseline.udid];
  widened.code = ready[widened.udid];

  // The first command of a device starts its sessions; it is shown, not counted.
  for (DeviceUnderTest* device : {&baseline, &widened}) device->first_ms = TimeBasicInfo(tandrel->Link(), *device);
  for (int run = 0; run < kRuns; ++run) {
    for (DeviceUnderTest* device : {&baseline, &widened}) {
      double ms = TimeBasicInfo(tandrel->Link(), *device);
      if (ms < 0) {
        std::fprintf(stderr, "command 300 on %s did not answer as expected\n", device->label.c_str());
        return 1;
      }
      device->samples_ms.push_back(ms);
    }
  }
  bench::LatencySummary base = bench::Summarize(baseline.samples_ms);
  bench::LatencySummary wide_summary = bench::Summarize(widened.samples_ms);
  std::printf("storage_latency_bench: command 300 (two data replies, then the final reply), N=%d runs each, "
              "alternating, after one first run\n",
              kRuns);
  std::printf("%-34s %10s %9s %10s %8s %13s %10s\n", "profile", "categories", "first ms", "median ms", "p90 ms",
              "ratio median", "ratio p90");
  PrintRow(baseline, base, base);
  PrintRow(widened, wide_summary, base);
  std::printf("ratio = figure / the baseline's figure\n");
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  return code;
}

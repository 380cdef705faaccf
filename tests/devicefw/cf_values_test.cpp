// CF objects as the host uses them: number conversions, string buffers and encodings, reference
// counts, dictionary and array semantics, dates, and the run loop.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <thread>

#include "framework_loader.h"

namespace devicefw_test {
namespace {

class CfValues : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Fw().error, ""); }
};

// ---- numbers ------------------------------------------------------------------------------

TEST_F(CfValues, NumbersKeepTheirTypeAndByteSize) {
  int32_t i32 = 7;
  int64_t i64 = 8;
  double f64 = 1.5;
  int i = 9;
  double d = 2.0;
  EXPECT_EQ(Fw().CFNumberGetType(MakeNumber(kCFNumberSInt32Type, &i32).get<CFNumberRef>()), kCFNumberSInt32Type);
  EXPECT_EQ(Fw().CFNumberGetType(MakeNumber(kCFNumberSInt64Type, &i64).get<CFNumberRef>()), kCFNumberSInt64Type);
  EXPECT_EQ(Fw().CFNumberGetType(MakeNumber(kCFNumberFloat64Type, &f64).get<CFNumberRef>()), kCFNumberFloat64Type);
  EXPECT_EQ(Fw().CFNumberGetType(MakeNumber(kCFNumberIntType, &i).get<CFNumberRef>()), kCFNumberIntType);
  EXPECT_EQ(Fw().CFNumberGetType(MakeNumber(kCFNumberDoubleType, &d).get<CFNumberRef>()), kCFNumberDoubleType);
  EXPECT_EQ(Fw().CFNumberGetByteSize(MakeNumber(kCFNumberSInt32Type, &i32).get<CFNumberRef>()), 4);
  EXPECT_EQ(Fw().CFNumberGetByteSize(MakeNumber(kCFNumberSInt64Type, &i64).get<CFNumberRef>()), 8);
  EXPECT_EQ(MakeNumber(99, &i32).get(), nullptr);  // unknown type
  EXPECT_EQ(MakeNumber(kCFNumberSInt32Type, nullptr).get(), nullptr);
  EXPECT_EQ(Fw().CFGetTypeID(MakeNumber(kCFNumberSInt32Type, &i32).get()), kCFTypeIDNumber);
}

TEST_F(CfValues, NumberConversionsReportLoss) {
  int64_t big = int64_t{1} << 40;
  CfRef big_number = MakeNumber(kCFNumberSInt64Type, &big);
  int32_t as32 = 0;
  EXPECT_FALSE(Fw().CFNumberGetValue(big_number.get<CFNumberRef>(), kCFNumberSInt32Type, &as32));
  int64_t as64 = 0;
  EXPECT_TRUE(Fw().CFNumberGetValue(big_number.get<CFNumberRef>(), kCFNumberSInt64Type, &as64));
  EXPECT_EQ(as64, big);
  double as_double = 0;
  EXPECT_TRUE(Fw().CFNumberGetValue(big_number.get<CFNumberRef>(), kCFNumberFloat64Type, &as_double));
  EXPECT_EQ(as_double, 1099511627776.0);

  int32_t small = -12;
  CfRef small_number = MakeNumber(kCFNumberSInt32Type, &small);
  EXPECT_TRUE(Fw().CFNumberGetValue(small_number.get<CFNumberRef>(), kCFNumberSInt64Type, &as64));
  EXPECT_EQ(as64, -12);
  int8_t as8 = 0;
  EXPECT_TRUE(Fw().CFNumberGetValue(small_number.get<CFNumberRef>(), kCFNumberSInt8Type, &as8));
  EXPECT_EQ(as8, -12);

  double fraction = 3.75;
  CfRef fraction_number = MakeNumber(kCFNumberFloat64Type, &fraction);
  EXPECT_FALSE(Fw().CFNumberGetValue(fraction_number.get<CFNumberRef>(), kCFNumberSInt32Type, &as32));
  EXPECT_EQ(as32, 3);  // truncated toward zero, like a C cast
  float as_float = 0;
  EXPECT_TRUE(Fw().CFNumberGetValue(fraction_number.get<CFNumberRef>(), kCFNumberFloat32Type, &as_float));
  EXPECT_EQ(as_float, 3.75f);

  double tenth = 0.1;
  EXPECT_FALSE(Fw().CFNumberGetValue(MakeNumber(kCFNumberFloat64Type, &tenth).get<CFNumberRef>(), kCFNumberFloat32Type,
                                     &as_float));
  double whole = 42.0;
  EXPECT_TRUE(Fw().CFNumberGetValue(MakeNumber(kCFNumberDoubleType, &whole).get<CFNumberRef>(), kCFNumberIntType, &as32));
  EXPECT_EQ(as32, 42);

  // Out-of-range and NaN floating values clamp instead of overflowing.
  double huge = 1e300;
  EXPECT_FALSE(Fw().CFNumberGetValue(MakeNumber(kCFNumberFloat64Type, &huge).get<CFNumberRef>(), kCFNumberSInt64Type,
                                     &as64));
  EXPECT_EQ(as64, std::numeric_limits<int64_t>::max());
  double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(Fw().CFNumberGetValue(MakeNumber(kCFNumberFloat64Type, &nan).get<CFNumberRef>(), kCFNumberSInt32Type,
                                     &as32));
  int64_t max64 = std::numeric_limits<int64_t>::max();
  EXPECT_FALSE(Fw().CFNumberGetValue(MakeNumber(kCFNumberSInt64Type, &max64).get<CFNumberRef>(), kCFNumberFloat64Type,
                                     &as_double));
  int64_t unrepresentable = (int64_t{1} << 53) + 1;
  EXPECT_FALSE(Fw().CFNumberGetValue(MakeNumber(kCFNumberSInt64Type, &unrepresentable).get<CFNumberRef>(),
                                     kCFNumberFloat64Type, &as_double));
  EXPECT_FALSE(Fw().CFNumberGetValue(small_number.get<CFNumberRef>(), 99, &as64));
}

// ---- strings ------------------------------------------------------------------------------

TEST_F(CfValues, GetCStringNeedsRoomForTextAndTerminator) {
  CfRef hello = MakeString("hello");
  char buffer[8];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_FALSE(Fw().CFStringGetCString(hello.get<CFStringRef>(), buffer, 5, kCFStringEncodingUTF8));
  EXPECT_EQ(buffer[0], 'x');  // untouched on failure
  EXPECT_TRUE(Fw().CFStringGetCString(hello.get<CFStringRef>(), buffer, 6, kCFStringEncodingUTF8));
  EXPECT_STREQ(buffer, "hello");
  EXPECT_FALSE(Fw().CFStringGetCString(hello.get<CFStringRef>(), buffer, 0, kCFStringEncodingUTF8));
  EXPECT_FALSE(Fw().CFStringGetCString(hello.get<CFStringRef>(), nullptr, 6, kCFStringEncodingUTF8));
}

TEST_F(CfValues, AsciiEncodingRefusesOtherCharacters) {
  CfRef name = MakeString("Zo\xC3\xAB's iPhone");  // "Zoë's iPhone"
  ASSERT_TRUE(name);
  char buffer[260];
  EXPECT_FALSE(Fw().CFStringGetCString(name.get<CFStringRef>(), buffer, sizeof(buffer), kCFStringEncodingASCII));
  EXPECT_TRUE(Fw().CFStringGetCString(name.get<CFStringRef>(), buffer, sizeof(buffer), kCFStringEncodingUTF8));
  EXPECT_STREQ(buffer, "Zo\xC3\xAB's iPhone");
  EXPECT_FALSE(Fw().CFStringGetCString(name.get<CFStringRef>(), buffer, sizeof(buffer), 0x1234));
  EXPECT_EQ(Fw().CFStringCreateWithCString(nullptr, "Zo\xC3\xAB", kCFStringEncodingASCII), nullptr);
  EXPECT_EQ(Fw().CFStringCreateWithCString(nullptr, "\xC3(", kCFStringEncodingUTF8), nullptr);  // invalid UTF-8
  EXPECT_EQ(Fw().CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);
}

TEST_F(CfValues, LengthCountsUtf16Units) {
  EXPECT_EQ(Fw().CFStringGetLength(MakeString("abc").get<CFStringRef>()), 3);
  EXPECT_EQ(Fw().CFStringGetLength(MakeString("\xC3\xAB").get<CFStringRef>()), 1);          // U+00EB
  EXPECT_EQ(Fw().CFStringGetLength(MakeString("\xE2\x82\xAC").get<CFStringRef>()), 1);      // U+20AC
  EXPECT_EQ(Fw().CFStringGetLength(MakeString("\xF0\x9F\x93\xB1").get<CFStringRef>()), 2);  // U+1F4F1, a pair
  EXPECT_EQ(Fw().CFStringGetLength(MakeString("").get<CFStringRef>()), 0);
  // Overlong forms and surrogates are not UTF-8.
  EXPECT_EQ(Fw().CFStringCreateWithCString(nullptr, "\xC0\xAF", kCFStringEncodingUTF8), nullptr);
  EXPECT_EQ(Fw().CFStringCreateWithCString(nullptr, "\xED\xA0\x80", kCFStringEncodingUTF8), nullptr);
}

TEST_F(CfValues, ConstantStringsAreInternedAndImmortal) {
  CFStringRef first = Fw().__CFStringMakeConstantString("com.apple.afc");
  CFStringRef second = Fw().__CFStringMakeConstantString("com.apple.afc");
  EXPECT_EQ(first, second);
  for (int i = 0; i < 5; ++i) Fw().CFRelease(first);
  EXPECT_EQ(TextOf(second), "com.apple.afc");
  CfRef copy(Fw().CFStringCreateCopy(nullptr, first));
  EXPECT_TRUE(Fw().CFEqual(copy.get(), MakeString("com.apple.afc").get()));
}

// ---- reference counts -------------------------------------------------------------------------

TEST_F(CfValues, ContainersRetainWhatTheyHoldAndReleaseItWhenFreed) {
  CFStringRef key = Fw().CFStringCreateWithCString(nullptr, "key", kCFStringEncodingUTF8);
  CFStringRef value = Fw().CFStringCreateWithCString(nullptr, "value", kCFStringEncodingUTF8);
  CFMutableDictionaryRef dictionary = Fw().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
  CFMutableArrayRef array = Fw().CFArrayCreateMutable(nullptr, 0, nullptr);
  Fw().CFDictionaryAddValue(dictionary, key, value);
  Fw().CFArrayAppendValue(array, value);
  EXPECT_EQ(Fw().CFGetRetainCount(value), 3);
  EXPECT_EQ(Fw().CFGetRetainCount(key), 2);
  Fw().CFRelease(value);
  Fw().CFRelease(key);
  // Still alive through the containers.
  EXPECT_EQ(TextOf(Fw().CFDictionaryGetValue(dictionary, MakeString("key").get())), "value");
  Fw().CFArrayRemoveValueAtIndex(array, 0);
  EXPECT_EQ(Fw().CFGetRetainCount(value), 1);
  Fw().CFRelease(array);
  Fw().CFRelease(dictionary);  // frees key and value; ASan reports any leak or double free
}

TEST_F(CfValues, ReferenceCountsAreSafeAcrossThreads) {
  CfRef data(Fw().CFDataCreate(nullptr, reinterpret_cast<const UInt8*>("abc"), 3));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        Fw().CFRetain(data.get());
        Fw().CFRelease(data.get());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Fw().CFGetRetainCount(data.get()), 1);
}

// ---- dictionaries and arrays ------------------------------------------------------------------

TEST_F(CfValues, DictionaryKeysCompareByValueAndAddNeverReplaces) {
  CfRef dictionary(Fw().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto dict = dictionary.get<CFMutableDictionaryRef>();
  CfRef first_value = MakeString("first");
  CfRef second_value = MakeString("second");
  Fw().CFDictionaryAddValue(dict, MakeString("name").get(), first_value.get());
  Fw().CFDictionaryAddValue(dict, MakeString("name").get(), second_value.get());
  EXPECT_EQ(Fw().CFDictionaryGetCount(dict), 1);
  EXPECT_EQ(Fw().CFDictionaryGetValue(dict, Fw().__CFStringMakeConstantString("name")), first_value.get());
  EXPECT_TRUE(Fw().CFDictionaryContainsKey(dict, MakeString("name").get()));
  EXPECT_FALSE(Fw().CFDictionaryContainsKey(dict, MakeString("Name").get()));
  EXPECT_TRUE(Fw().CFDictionaryContainsValue(dict, MakeString("first").get()));
  EXPECT_FALSE(Fw().CFDictionaryContainsValue(dict, second_value.get()));
  EXPECT_EQ(Fw().CFDictionaryGetValue(dict, MakeString("missing").get()), nullptr);
  // Null keys and values are refused, not stored.
  Fw().CFDictionaryAddValue(dict, nullptr, first_value.get());
  Fw().CFDictionaryAddValue(dict, MakeString("k").get(), nullptr);
  EXPECT_EQ(Fw().CFDictionaryGetCount(dict), 1);
}

// Small dictionaries scan their keys and large ones index them: either way every key is found
// by value, a number key beside string keys too, and a key added twice keeps its first value.
TEST_F(CfValues, DictionaryLookupsHoldFromFewEntriesToMany) {
  CfRef dictionary(Fw().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto dict = dictionary.get<CFMutableDictionaryRef>();
  int32_t seven = 7;
  CfRef number_key = MakeNumber(kCFNumberSInt32Type, &seven);
  Fw().CFDictionaryAddValue(dict, number_key.get(), MakeString("by number").get());
  auto text = [](const char* prefix, int i) { return MakeString((prefix + std::to_string(i)).c_str()); };
  for (int i = 0; i < 40; ++i) {
    Fw().CFDictionaryAddValue(dict, text("k", i).get(), text("v", i).get());
    Fw().CFDictionaryAddValue(dict, text("k", i / 2).get(), MakeString("again").get());
    ASSERT_EQ(Fw().CFDictionaryGetCount(dict), i + 2);
    for (int j = 0; j <= i; ++j) {
      ASSERT_EQ(TextOf(Fw().CFDictionaryGetValue(dict, text("k", j).get())), "v" + std::to_string(j)) << i << " " << j;
    }
    EXPECT_EQ(TextOf(Fw().CFDictionaryGetValue(dict, number_key.get())), "by number");
    EXPECT_EQ(Fw().CFDictionaryGetValue(dict, text("k", i + 1).get()), nullptr);
  }
}

TEST_F(CfValues, DictionaryEnumerationVisitsEveryPairInOrder) {
  CfRef a = MakeString("a"), b = MakeString("b");
  int32_t one = 1, two = 2;
  CfRef n1 = MakeNumber(kCFNumberSInt32Type, &one), n2 = MakeNumber(kCFNumberSInt32Type, &two);
  const void* keys[] = {a.get(), b.get()};
  const void* values[] = {n1.get(), n2.get()};
  CfRef dictionary(Fw().CFDictionaryCreate(nullptr, keys, values, 2, nullptr, nullptr));
  auto dict = dictionary.get<CFDictionaryRef>();
  ASSERT_EQ(Fw().CFDictionaryGetCount(dict), 2);
  const void* got_keys[2] = {};
  const void* got_values[2] = {};
  Fw().CFDictionaryGetKeysAndValues(dict, got_keys, got_values);
  EXPECT_EQ(TextOf(got_keys[0]), "a");
  EXPECT_EQ(got_values[1], n2.get());
  std::vector<std::string> visited;
  Fw().CFDictionaryApplyFunction(
      dict, [](const void* key, const void*, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(TextOf(key)); },
      &visited);
  EXPECT_EQ(visited, (std::vector<std::string>{"a", "b"}));
  // An immutable dictionary ignores additions.
  Fw().CFDictionaryAddValue(const_cast<CFMutableDictionaryRef>(dict), MakeString("c").get(), n1.get());
  EXPECT_EQ(Fw().CFDictionaryGetCount(dict), 2);
}

TEST_F(CfValues, ArraysAppendGetAndRemoveWithinBounds) {
  CfRef array(Fw().CFArrayCreateMutable(nullptr, 0, nullptr));
  auto list = array.get<CFMutableArrayRef>();
  for (const char* text : {"x", "y", "z"}) Fw().CFArrayAppendValue(list, MakeString(text).get());
  ASSERT_EQ(Fw().CFArrayGetCount(list), 3);
  Fw().CFArrayRemoveValueAtIndex(list, 1);
  EXPECT_EQ(TextOf(Fw().CFArrayGetValueAtIndex(list, 1)), "z");
  EXPECT_EQ(Fw().CFArrayGetValueAtIndex(list, 2), nullptr);
  EXPECT_EQ(Fw().CFArrayGetValueAtIndex(list, -1), nullptr);
  Fw().CFArrayRemoveValueAtIndex(list, 7);
  EXPECT_EQ(Fw().CFArrayGetCount(list), 2);
  EXPECT_EQ(Fw().CFGetTypeID(list), kCFTypeIDArray);
  // Wrong types are answered safely.
  EXPECT_EQ(Fw().CFArrayGetCount(reinterpret_cast<CFArrayRef>(MakeString("s").get())), 0);
}

// ---- data, dates, URLs --------------------------------------------------------------------

TEST_F(CfValues, DataDatesAndUrls) {
  const UInt8 bytes[] = {0x0A, 0xFF};
  CfRef data(Fw().CFDataCreate(nullptr, bytes, 2));
  CfRef copy(Fw().CFDataCreateCopy(nullptr, data.get<CFDataRef>()));
  EXPECT_EQ(Fw().CFDataGetLength(copy.get<CFDataRef>()), 2);
  EXPECT_EQ(Fw().CFDataGetBytePtr(copy.get<CFDataRef>())[1], 0xFF);
  CfRef empty(Fw().CFDataCreate(nullptr, nullptr, 0));
  EXPECT_NE(Fw().CFDataGetBytePtr(empty.get<CFDataRef>()), nullptr);
  EXPECT_EQ(Fw().CFDataCreate(nullptr, nullptr, 4), nullptr);
  EXPECT_EQ(Fw().CFDataCreate(nullptr, bytes, -1), nullptr);

  // 2023-11-14 22:13:20 UTC is 1700000000 Unix seconds.
  const CFAbsoluteTime now = Fw().CFAbsoluteTimeGetCurrent();
  EXPECT_GT(now, 1700000000.0 - 978307200.0);
  CfRef date(Fw().CFDateCreate(nullptr, 12.5));
  EXPECT_EQ(Fw().CFGetTypeID(date.get()), kCFTypeIDDate);
  EXPECT_EQ(Fw().CFDateGetAbsoluteTime(date.get<CFDateRef>()), 12.5);

  CfRef url(Fw().CFURLCreateWithFileSystemPath(nullptr, MakeString("/tmp/x").get<CFStringRef>(), 0, false));
  EXPECT_TRUE(url);
  EXPECT_EQ(Fw().CFURLCreateWithFileSystemPath(nullptr, nullptr, 0, false), nullptr);
}

// ---- run loop -----------------------------------------------------------------------------

TEST_F(CfValues, RunLoopRunsPostedCallsInOrderOnItsThread) {
  struct Log {
    std::mutex mutex;
    std::vector<int> order;
    std::thread::id thread;
  } log;
  struct Call {
    Log* log;
    int number;
  };
  static auto record = [](void* context) {
    auto* call = static_cast<Call*>(context);
    std::lock_guard lock(call->log->mutex);
    call->log->order.push_back(call->number);
    call->log->thread = std::this_thread::get_id();
  };
  Call calls[3] = {{&log, 1}, {&log, 2}, {&log, 3}};
  for (Call& call : calls) ASSERT_EQ(Fw().KorRunLoopPost(+[](void* c) { record(c); }, &call), 0);
  std::thread loop([] { Fw().CFRunLoopRun(); });
  const std::thread::id loop_id = loop.get_id();
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard lock(log.mutex);
      if (log.order.size() == 3) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Fw().KorRunLoopStop();
  loop.join();
  EXPECT_EQ(log.order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(log.thread, loop_id);
  EXPECT_NE(Fw().KorRunLoopPost(nullptr, nullptr), 0);
}

}  // namespace
}  // namespace devicefw_test

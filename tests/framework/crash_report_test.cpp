// Crash reports: what they say about C++ and structured exceptions, where they are written, and
// that a stopped service reports nothing.
#include "framework/crash_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/seh_guard.h"

namespace kiv {
namespace {

std::vector<std::string>& Written() {
  static std::vector<std::string> written;
  return written;
}

class CrashReport : public ::testing::Test {
 protected:
  void SetUp() override {
    Written().clear();
    previous_ = SetDebugOutputHandler([](const std::string& text) { Written().push_back(text); });
  }
  void TearDown() override {
    SetDebugOutputHandler(previous_);
    CrashReportStart();
  }
  DebugOutputHandler previous_ = nullptr;
};

TEST_F(CrashReport, CaughtExceptionIsReportedWithClassMessageAndContextAndWrittenOnce) {
  std::string report;
  try {
    throw EListError::OutOfBounds(5);
  } catch (...) {
    report = CrashReportCurrentException("LOAD");
  }
  EXPECT_EQ(report.rfind("Exception kiv::EListError: List index out of bounds (5)\r\nCaught in LOAD\r\n", 0), 0u)
      << report;
  ASSERT_EQ(Written().size(), 1u);
  EXPECT_EQ(Written()[0], report);

  try {
    throw 42;
  } catch (...) {
    report = CrashReportCurrentException();
  }
  EXPECT_EQ(report.rfind("Exception of an unknown class\r\n", 0), 0u) << report;
  EXPECT_EQ(report.find("Caught in"), std::string::npos);
}

TEST_F(CrashReport, NothingToReportOrAStoppedServiceGivesAnEmptyReportAndWritesNothing) {
  EXPECT_EQ(CrashReportCurrentException("outside a handler"), "");
  EXPECT_EQ(CrashReportException(nullptr, "null"), "");
  CrashReportShutdown();
  CrashReportShutdown();
  EXPECT_FALSE(CrashReportRunning());
  EXPECT_EQ(CrashReportException(std::make_exception_ptr(Exception("late")), "x"), "");
  SehException seh;
  seh.Code = 0xC0000005;
  EXPECT_EQ(CrashReportStructured(seh), "");
  EXPECT_TRUE(Written().empty());
  CrashReportStart();
  EXPECT_NE(CrashReportException(std::make_exception_ptr(Exception("again")), "x"), "");
  EXPECT_EQ(Written().size(), 1u);
}

TEST_F(CrashReport, StructuredExceptionNamesCodeAndAccess) {
  SehException e;
  e.Code = 0xC0000005;
  e.ParameterCount = 2;
  e.Parameters[0] = 1;
  e.Parameters[1] = 0x10;
  const std::string report = CrashReportStructured(e, "ProcessData");
  EXPECT_EQ(report.rfind("Exception 0xC0000005 (access violation, write of address 00000010) at ", 0), 0u)
      << report;
  EXPECT_NE(report.find("\r\nCaught in ProcessData\r\n"), std::string::npos);
  e.Code = 0xE0424242;
  EXPECT_EQ(CrashReportStructured(e).rfind("Exception 0xE0424242 at ", 0), 0u);
  EXPECT_EQ(Written().size(), 2u);
}

TEST_F(CrashReport, SummaryIsOneLineWrittenNowhereAndAlsoWhenStopped) {
  SehException e;
  e.Code = 0xC0000005;
  e.Address = 0x401234;
  e.ParameterCount = 2;
  e.Parameters[1] = 0x10;
  CrashReportShutdown();
  const std::string summary = CrashSummaryStructured(e);
  EXPECT_EQ(summary.rfind("Exception 0xC0000005 (access violation, read of address 00000010) at ", 0), 0u) << summary;
  EXPECT_EQ(summary.find_first_of("\r\n"), std::string::npos) << summary;
  EXPECT_TRUE(Written().empty());
}

TEST(StackFrameText, ShowsAddressModuleAndOffsetOrAQuestionMark) {
  EXPECT_EQ(FormatStackFrame({0x6A0C1A2B, "plugin.dll", 0x1A2B}), "6A0C1A2B plugin.dll+0x1A2B");
  EXPECT_EQ(FormatStackFrame({0x1234, "", 0x1234}), "00001234 ?");
}

}  // namespace
}  // namespace kiv

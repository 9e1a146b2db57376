// Runs one folder's tests. No test may skip: the install script installs every tool the
// tests drive, so a skip is reported as a failure, and a check which quietly stopped
// running (as root, say, or without a tool) is seen. ctest counts a run whose
// output holds gtest's skip mark as skipped whatever its exit status, so such a test is
// printed as failed instead, and the run ends with status 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>


namespace {

// gtest's own printer, but for the skips.
class SkipGuard : public testing::TestEventListener {
 public:
  explicit SkipGuard(testing::TestEventListener* printer) : printer_(printer) {}
  int unexpected() const { return unexpected_; }

 private:
  void OnTestProgramStart(const testing::UnitTest& u) override { printer_->OnTestProgramStart(u); }
  void OnTestIterationStart(const testing::UnitTest& u, int i) override {
    printer_->OnTestIterationStart(u, i);
  }
  void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsSetUpStart(u);
  }
  void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override { printer_->OnEnvironmentsSetUpEnd(u); }
  void OnTestSuiteStart(const testing::TestSuite& s) override { printer_->OnTestSuiteStart(s); }
  void OnTestStart(const testing::TestInfo& t) override { printer_->OnTestStart(t); }
  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (result.skipped()) {
      ++unexpected_;
      current_ = true;
      std::printf("%s:%d: Failure\nskipped: %s\n",
                  result.file_name() ? result.file_name() : "?", result.line_number(), result.message());
      return;
    }
    printer_->OnTestPartResult(result);
  }
  void OnTestEnd(const testing::TestInfo& t) override {
    if (current_) {
      std::printf("[  FAILED  ] %s.%s\n", t.test_suite_name(), t.name());
      current_ = false;
      return;
    }
    printer_->OnTestEnd(t);
  }
  void OnTestSuiteEnd(const testing::TestSuite& s) override { printer_->OnTestSuiteEnd(s); }
  void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsTearDownStart(u);
  }
  void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsTearDownEnd(u);
  }
  void OnTestIterationEnd(const testing::UnitTest& u, int i) override {
    if (unexpected_ > 0) {  // gtest's summary would list them as skipped
      std::printf("[  FAILED  ] %d test(s) skipped\n",
                  unexpected_);
      return;
    }
    printer_->OnTestIterationEnd(u, i);
  }
  void OnTestProgramEnd(const testing::UnitTest& u) override { printer_->OnTestProgramEnd(u); }

  std::unique_ptr<testing::TestEventListener> printer_;
  int unexpected_ = 0;
  bool current_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  auto* guard = new SkipGuard(listeners.Release(listeners.default_result_printer()));
  listeners.Append(guard);  // the list owns it
  const int status = RUN_ALL_TESTS();
  return guard->unexpected() > 0 ? 1 : status;
}

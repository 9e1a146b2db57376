#pragma once
// The screens as the page drives them, with the English string table (the commands' keys
// are short codes), for the tests of the main screen's commands.
#include <vector>

#include "base/DebugLog.h"
#include "store/SimTable.h"
#include "ui/UiHarness.h"

namespace voryx::test {

inline std::vector<SimEntry> stored(const TempHome& home, ListStore store) {
  return *SimTable::open(home.paths.database(), store)->list();
}

inline nlohmann::json rowLabels(const nlohmann::json& screen) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& row : screen["rows"]) out.push_back({row["labels"][0], row["labels"][1], row["labels"][2], row["colors"]});
  return out;
}

// The debug log in the home's state folder while it lives.
struct ScopedLog {
  explicit ScopedLog(const TempHome& home) {
    std::filesystem::create_directories(home.paths.logFile.parent_path());
    DebugLog::setPath(home.paths.logFile);
  }
  ScopedLog(const ScopedLog&) = delete;
  ~ScopedLog() { DebugLog::setPath({}); }
};

// The screens with the English string table (the commands' keys are short codes).
struct Screens {
  explicit Screens(const TempHome& home) : table(home), ui(home.paths, options()) {}
  static VoryxUiOptions options() {
    VoryxUiOptions o;
    o.clock = &clock;
    return o;
  }
  void answer(int index) { ui.answer(index); }
  void type(const std::string& field, const std::string& text) {
    ASSERT_EQ(ui.event({{"target", field}, {"action", "change"}, {"value", text}}).status, 200);
  }
  int actionType() {
    int a = -1;
    ui.onMain([&] { a = ui.ui.root().actionType; });
    return a;
  }
  inline static kit::ManualClock clock;
  EnglishTexts table;
  UiHarness ui;
};

}  // namespace voryx::test

// The names the screen tests use unqualified.
namespace voryx {
using nlohmann::json;
using test::rowLabels;
using test::ScopedLog;
using test::Screens;
using test::stored;
using test::TempHome;
using test::UiHarness;
}  // namespace voryx

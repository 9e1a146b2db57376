#pragma once
// The screens without HTTP, for tests: a private home folder with a copy of the shipped
// database, and VoryxUi with its main loop on a thread of its own.
#include <sqlite3.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "ui/VoryxUi.h"

namespace voryx::test {

// A temporary home: data/Voryx.sqlitedb copied from the build's resources, the other
// files in their usual places below it. Removed at the end.
class TempHome {
 public:
  TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "voryx-ui-XXXXXX").string();
    root = mkdtemp(pattern.data());
    paths.resources = std::filesystem::path(VORYX_BINARY_DIR) / "resources";
    paths.documents = root / "data";
    paths.exportDir = root / "Documents";
    paths.logFile = root / "state" / "Voryx.log";
    paths.preferences = root / "config" / "preferences.json";
    paths.contacts = root / "data" / "contacts.vcf";
    std::filesystem::create_directories(paths.documents);
    std::filesystem::copy_file(paths.shippedDatabase(), paths.database());
  }
  ~TempHome() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  // Runs SQL against the database copy.
  void exec(const std::string& sql) const {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(paths.database().c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }

  std::filesystem::path root;
  Paths paths;
};

class UiHarness {
 public:
  explicit UiHarness(const Paths& paths, VoryxUiOptions options = {})
      : ui(paths, std::move(options)), main_([this] { ui.run(); }) {
    waitIdle();
  }
  ~UiHarness() {
    ui.stop();
    main_.join();
  }
  UiHarness(const UiHarness&) = delete;
  UiHarness& operator=(const UiHarness&) = delete;

  void waitIdle() { ui.application().loop().waitUntilIdle(); }
  nlohmann::json snapshot() {
    waitIdle();
    return ui.port().snapshot();
  }
  // The top screen of the navigation stack.
  nlohmann::json screen() { return snapshot()["navigation"].back(); }
  // Sends the event, with the current version when it has none.
  kit::EventResult event(nlohmann::json e) {
    waitIdle();
    if (!e.contains("version")) e["version"] = ui.port().version();
    auto result = ui.port().dispatch(e);
    waitIdle();
    return result;
  }
  kit::EventResult tap(const std::string& id, nlohmann::json value = nullptr) {
    return event({{"target", id}, {"action", "tap"}, {"value", value}});
  }
  // One touch of a tap on the navigation area.
  kit::EventResult touch(double x, int tapCount) {
    return event({{"target", "window"}, {"action", "touch"},
                  {"value", {{"x", x}, {"y", 240}, {"tapCount", tapCount}, {"inList", true}}}});
  }
  // Runs fn on the main loop and waits for it.
  template <class F>
  void onMain(F fn) {
    ui.application().loop().performOnMain(fn, true);
    waitIdle();
  }

  VoryxUi ui;

 private:
  std::thread main_;
};

}  // namespace voryx::test

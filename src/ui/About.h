#pragma once
// The how-to screen: the user guide in a web frame (tag 97) that fills the screen, loaded
// from the `howtoAddress` preference (default: the guide this server ships, "/howto/").
// Opened at the top, or at one section of the guide (the address's "#anchor"). Pushed on
// the main screen's stack; the back button leaves it and destroys it. While a
// load runs the network activity indicator is on; a load that fails (not one cut short)
// gets one "Network error" alert and leaves the screen as it is. Main loop only.
#include <string>

#include "store/Preferences.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Screen.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

inline constexpr const char* kPrefHowtoAddress = "howtoAddress";  // text, by hand

class About final : public kit::Screen, public kit::WebFrameDelegate {
 public:
  static constexpr int kFrameTag = 97;
  static constexpr const char* kDefaultAddress = "/howto/";

  // The application and the preferences outlive the screen.
  // `anchor`: a section of the guide ("marks"), or "" for its top.
  About(kit::UiApplication& app, Preferences& preferences, std::string anchor = {});
  // Stops the load and turns the indicator off.
  ~About() override;

  void viewDidLoad() override;  // loads the address into the frame
  void languageDidChange() override;

  void webViewDidStartLoad(kit::WebFrame& frame) override;
  void webViewDidFinishLoad(kit::WebFrame& frame) override;
  void webViewDidFailLoadWithError(kit::WebFrame& frame, int code) override;

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  kit::UiApplication& app_;
  Preferences& preferences_;
  const std::string anchor_;
  kit::WebFrame webView_;
};

}  // namespace voryx

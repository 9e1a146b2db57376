#include "ui/About.h"

#include "base/Localized.h"

namespace voryx {

About::About(kit::UiApplication& app, Preferences& preferences, std::string anchor)
    : kit::Screen("About"), app_(app), preferences_(preferences), anchor_(std::move(anchor)) {
  webView_.tag = kFrameTag;
  webView_.transparent = true;
  webView_.delegate = this;
  languageDidChange();
}

About::~About() {
  webView_.delegate = nullptr;
  webView_.stopLoading();
  app_.setNetworkActivityIndicatorVisible(false);
}

void About::languageDidChange() { setTitle(localized("How to")); }

void About::viewDidLoad() {
  preferences_.synchronize();
  const auto address = preferences_.text(kPrefHowtoAddress);
  std::string url = address && !address->empty() ? *address : kDefaultAddress;
  // A section of a page is its anchor, in place of any the address named.
  if (!anchor_.empty()) url = url.substr(0, url.find('#')) + "#" + anchor_;
  webView_.loadRequest(std::move(url));
}

void About::webViewDidStartLoad(kit::WebFrame&) { app_.setNetworkActivityIndicatorVisible(true); }

void About::webViewDidFinishLoad(kit::WebFrame&) { app_.setNetworkActivityIndicatorVisible(false); }

void About::webViewDidFailLoadWithError(kit::WebFrame&, int code) {
  if (code == kit::WebFrame::kCancelled) return;  // a newer load took its place, or the screen went
  app_.setNetworkActivityIndicatorVisible(false);
  app_.showAlert({localized("Network error"), localized("M7"), nullptr, localized("Ok"), {}});
}

void About::renderParts(nlohmann::json& screen) const { screen["frame"] = webView_.render(); }

kit::EventResult About::handleOwnEvent(const kit::Event& e) {
  if (e.target == webView_.target()) return webView_.handleEvent(e);
  return Screen::handleOwnEvent(e);
}

}  // namespace voryx

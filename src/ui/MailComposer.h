#pragma once
// The mail composer: the support mail before it leaves, presented over the main screen. The
// user sees and may change the recipient, the subject and the body, and sees the
// attachment whole (its name, its size and its text, read-only), so that every number and
// message text the log holds is seen before it goes. "Cancel" drops the message; "Send"
// offers it to the page as an .eml download and hands it to the desktop's mail client
// where there is one, and a notice says which. Either way the composer dismisses itself.
// Main loop only.
#include <filesystem>

#include "entries/SupportMail.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Screen.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

class MailComposer final : public kit::Screen {
 public:
  // `app` outlives the screen. `stateFolder`: where the mail client's copy of the
  // attachment goes (entries::handToMailClient).
  MailComposer(kit::UiApplication& app, entries::SupportMail mail, std::filesystem::path stateFolder);

  void viewDidLoad() override;         // the bar buttons and the fields
  void languageDidChange() override;   // title, labels, placeholders, bar buttons
  // The message as it would go now: the fields' texts over the message given.
  entries::SupportMail message() const;
  void send();
  void cancel();

  kit::TextInput to;
  kit::TextInput subject;
  kit::TextInput body;        // the body as text (entries::bodyText)
  kit::TextInput attachment;  // the attachment's text; takes no change

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  void showSubjectAsTitle();
  void finish();

  kit::UiApplication& app_;
  const entries::SupportMail mail_;
  const std::filesystem::path stateFolder_;
  kit::BarButton cancel_;
  kit::BarButton send_;
};

}  // namespace voryx

#include "ui/MailComposer.h"

#include <ctime>

#include "base/Localized.h"
#include "ui/Notices.h"

namespace voryx {
namespace {

// The name the .eml download is offered under.
constexpr const char* kEmlName = "Voryx support.eml";

kit::TextInput input(std::string id, std::string text, bool multiline) {
  kit::TextInput f;
  f.id = std::move(id);
  f.text = std::move(text);
  f.multiline = multiline;
  f.fontSize = 16;
  return f;
}

}  // namespace

MailComposer::MailComposer(kit::UiApplication& app, entries::SupportMail mail, std::filesystem::path stateFolder)
    : kit::Screen("MailComposer"), app_(app), mail_(std::move(mail)), stateFolder_(std::move(stateFolder)) {
  cancel_.id = "cancel";
  cancel_.action = [this] { cancel(); };
  send_.id = "send";
  send_.action = [this] { send(); };
}

void MailComposer::viewDidLoad() {
  to = input("to", mail_.to, false);
  to.returnKeyDone = true;
  subject = input("subject", mail_.subject, false);
  subject.returnKeyDone = true;
  body = input("body", entries::bodyText(mail_.htmlBody), true);
  attachment = input("attachment", mail_.attachment, true);
  attachment.fontSize = 14;
  setLeftButton(&cancel_);
  setRightButton(&send_);
  languageDidChange();
}

void MailComposer::languageDidChange() {
  showSubjectAsTitle();
  cancel_.title = localized("Cancel");
  send_.title = localized("Send");
  body.placeholder = localized("Message");  // also what a screen reader calls it
}

// The subject as it stands is the title; a message without one is a new message.
void MailComposer::showSubjectAsTitle() { setTitle(subject.text.empty() ? localized("New Message") : subject.text); }

entries::SupportMail MailComposer::message() const {
  entries::SupportMail mail = mail_;
  mail.to = to.text;
  mail.subject = subject.text;
  mail.htmlBody = entries::htmlFromText(body.text);
  return mail;
}

void MailComposer::send() {
  const entries::SupportMail mail = message();
  app_.openURL(app_.serveFile({"message/rfc822", kEmlName, entries::encodeEml(mail, std::time(nullptr))}));
  // Where the desktop has no mail client (or the recipient is no address it takes), the
  // download is the way the message leaves: the notice says what to do with it.
  const bool handed = entries::handToMailClient(mail, stateFolder_).ok();
  app_.showNotice(handed ? notices::filled("The message is in your mail program; %s was saved too", {kEmlName})
                         : notices::filled("Saved %s \u2014 attach it in your mail program", {kEmlName}));
  finish();
}

void MailComposer::cancel() { finish(); }

void MailComposer::finish() { app_.navigation().dismiss(); }

// Four text inputs; those with a "label" show it beside or above them, and are named by it.
void MailComposer::renderParts(nlohmann::json& screen) const {
  auto labelled = [](const kit::TextInput& field, std::string label) {
    nlohmann::json item = field.render();
    item["label"] = std::move(label);
    return item;
  };
  nlohmann::json view = labelled(attachment, mail_.attachmentName + ", " + std::to_string(mail_.attachment.size()) +
                                                 " " + localized("bytes"));
  view["readOnly"] = true;
  // The page stops the body where the kit would refuse it: at most 3 bytes of UTF-8 for
  // each UTF-16 unit the page counts.
  nlohmann::json text = body.render();
  text["maxLength"] = kit::TextInput::kLongestText / 3;
  screen["composer"] = {{"to", labelled(to, localized("To:"))},
                        {"subject", labelled(subject, localized("Subject:"))},
                        {"body", std::move(text)},
                        {"attachment", std::move(view)}};
}

kit::EventResult MailComposer::handleOwnEvent(const kit::Event& e) {
  if (e.target == attachment.id) {
    if (e.action == "change") return kit::invalidEvent("the attachment is read-only");
    return attachment.handleEvent(e);
  }
  for (kit::TextInput* field : {&to, &subject, &body}) {
    if (e.target != field->id) continue;
    kit::EventResult result = field->handleEvent(e, [] { return true; });
    if (field == &subject) showSubjectAsTitle();
    return result;
  }
  return Screen::handleOwnEvent(e);
}

}  // namespace voryx

#include "model/platform.h"

#include "model/hosts.h"
#include "platform/keystrokes.h"
#include "platform/log.h"

namespace model {

void RecordingSettings::save(const std::string& app, const std::string& section,
                             const std::string& key, const std::string& value) {
  if (failWrites) automation::fail("Permission denied", 70);
  values[{app, section, key}] = value;
  writes.push_back(app + "\\" + section + "\\" + key + "=" + value);
}

std::string RecordingSettings::get(const std::string& app, const std::string& section,
                                   const std::string& key, const std::string& defaultValue) {
  auto it = values.find({app, section, key});
  return it == values.end() ? defaultValue : it->second;
}

void RecordingMessageBox::show(const std::string& text) {
  shown.push_back(text);
  if (auto hook = whileShown) hook(text);
}

platform::MessageBoxes::Answer RecordingMessageBox::ask(const std::string& text) {
  shown.push_back(text);
  if (auto hook = whileShown) hook(text);
  if (answers.empty()) return Answer::Cancel;
  auto a = answers.front();
  answers.pop_front();
  return a;
}

void ModelKeyboard::type(const std::string& notation) {
  auto keys = platform::keystrokes::parse(notation);  // malformed text types nothing
  sent.push_back(notation);
  auto* target = world_->focused;
  if (!target) return;  // keys with no focused window are lost, as on the desktop
  for (const auto& k : keys) target->text += k.enter ? std::string("\n") : platform::keystrokes::toUtf8(k.ch);
}

void RecordingLog::start(bool on) noexcept {
  ++starts;
  on_ = on && !refuse;
}

void RecordingLog::append(Level level, std::string_view line) noexcept {
  try {
    lines.push_back({level, std::string(line)});
  } catch (...) {
  }
}

std::vector<std::string> RecordingLog::text() const {
  std::vector<std::string> out;
  for (const auto& l : lines) {
    std::string level = platform::logline::levelName(l.level);
    level.resize(5, ' ');
    out.push_back(level + " " + l.event);
  }
  return out;
}

platform::ActiveObject ModelHostLookup::getActiveObject(const std::string& progId) {
  lookups.push_back(progId);
  if (auto f = factories.find(progId); f != factories.end()) return f->second();
  auto it = running.find(progId);
  if (it == running.end() || it->second.empty())
    automation::fail("ActiveX component can't create object: no running " + progId,
                     automation::errors::CantCreateObject);
  return {it->second, true};
}

bool ModelHostLookup::inThisProcess(const Object& object) { return !inAnotherProcess(object); }

Harness::Harness(Editor e) : editor(std::move(e)), keyboard(editor.shared()) {}

}  // namespace model

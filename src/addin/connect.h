#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "addin/logging.h"
#include "automation/object.h"
#include "host/instance.h"
#include "platform/services.h"
#include "toolbar/click_route.h"

namespace addin {

using automation::Object;
using automation::Value;

// A member that holds a CommandBarEvents object and, for exactly as long as it holds it, the click
// subscription to it. Assigning moves the subscription; assigning Nothing ends it.
class EventMember {
 public:
  EventMember(automation::ClickHandler handler, automation::ClickEvents events)
      : handler_(std::move(handler)), events_(events) {}
  const Object& get() const noexcept { return source_; }
  void set(const Object& events);

 private:
  automation::ClickHandler handler_;
  automation::ClickEvents events_;
  Object source_;
  automation::Subscription subscription_;
};

// The add-in object. Member and method names are those of its automation interface _Connect;
// every method that fails throws automation::Failure (the status the interface returns).
class Connect {
 public:
  // `owner`, when given, is held for as long as a click's command or the connection runs.
  explicit Connect(platform::Services services, platform::Lifetime* owner = nullptr);
  ~Connect();
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;

  // Add-in designer events (not members of _Connect).
  void AddinInstance_OnConnection(const Object& Application, int32_t ConnectMode);
  void AddinInstance_OnDisconnection(int32_t RemoveMode);

  // Member accessors.
  const Object& VBInstance() const noexcept { return VBInstance_; }
  void setVBInstance(const Object& v) { VBInstance_ = v; }
  const Object& c() const noexcept { return c_; }
  void setC(const Object& v) { c_ = v; }
  const std::string& btncaption() const noexcept { return btncaption_; }
  void setBtncaption(std::string v) { btncaption_ = std::move(v); }
  bool FormDisplayed() const noexcept { return FormDisplayed_; }
  void setFormDisplayed(bool v) noexcept { FormDisplayed_ = v; }
  // n = 1..6
  const Object& Btns(int n) const { return btns_.at(n - 1).get(); }
  void setBtns(int n, const Object& events) { btns_.at(n - 1).set(events); }
  const Object& CmdReferenceSet() const noexcept { return CmdReferenceSet_.get(); }
  void setCmdReferenceSet(const Object& events) { CmdReferenceSet_.set(events); }

  // Methods of _Connect.
  void CmdReferenceSet_Click(const Object& cmdbar, bool& handled, bool& CancelDefault);
  void cmdbarbtnadd(Value& cmdbarname);
  void cmdbaradd(Value& cmdbarname);
  void ToolbarAdd();
  std::string getappname();
  void closewb();
  void UseFileDialogOpen();
  void reflist();
  Value getwbname();
  Object eventset(Object& cmd);
  void activeprojaction(bool& bflag);
  void allprojaction(bool& bflag);
  void cmdclick(Value& cID);

  // Btns1_Click .. Btns6_Click share one body.
  void BtnsN_Click(const Object& cmdbar, bool& handled, bool& CancelDefault);

  platform::Services& services() noexcept { return services_; }
  // A click's command or the connection is running; clicks that arrive meanwhile are ignored.
  bool busy() const noexcept { return busy_; }

 private:
  void btncreate(Value& cmdbarname, Value& caption);
  // The host's Application for a command, written to the log with the way it was found.
  Object hostApplication(const editor::VBE& vbe, host::Kind kind, const std::string& appName);
  void startLog() noexcept;
  automation::ClickHandler buttonHandler(int position);
  using ClickBody = void (Connect::*)(const Object&, bool&, bool&);
  // `position` is the button whose sink received the click; 0 for the References control.
  void clicked(ClickBody body, int position, const Object& cmdbar, bool& handled, bool& CancelDefault);

  platform::Services services_;
  Logging logging_;
  toolbar::ClickRoute route_;
  platform::Lifetime* owner_;
  bool busy_ = false;
  // The row cmdclick chose for the click being run (0: none), for its line in the log.
  int dispatched_ = -1;
  std::string hostVersion_;  // read once per connection, for the log only
  Object VBInstance_;
  Object c_;
  std::string btncaption_;
  bool FormDisplayed_ = false;
  std::array<EventMember, 6> btns_;
  EventMember CmdReferenceSet_;
};

}  // namespace addin

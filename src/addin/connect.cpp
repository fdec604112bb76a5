#include "addin/connect.h"

#include <utility>

#include "addin/identity.h"
#include "editor/vbe.h"

namespace addin {

void EventMember::set(const Object& events) {
  // Subscribe first: a source that refuses leaves the member as it was.
  automation::Subscription next;
  if (!events.empty()) next = events.subscribe(handler_, events_);
  subscription_ = std::move(next);
  source_ = events;
}

namespace {

// Holds the owner from construction to destruction. Declared first in a scope, it ends last, after
// everything else there that touches the add-in.
class Hold {
 public:
  explicit Hold(platform::Lifetime* owner) noexcept : owner_(owner) {
    if (owner_) owner_->hold();
  }
  ~Hold() {
    if (owner_) owner_->release();
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  platform::Lifetime* owner_;
};

class Busy {
 public:
  explicit Busy(bool& flag) noexcept : flag_(flag), was_(std::exchange(flag, true)) {}
  ~Busy() { flag_ = was_; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  bool& flag_;
  bool was_;
};

}  // namespace

Connect::Connect(platform::Services services, platform::Lifetime* owner)
    : services_(services),
      route_(services.clicks),
      owner_(owner),
      btns_{EventMember(buttonHandler(1), services.clicks), EventMember(buttonHandler(2), services.clicks),
            EventMember(buttonHandler(3), services.clicks), EventMember(buttonHandler(4), services.clicks),
            EventMember(buttonHandler(5), services.clicks), EventMember(buttonHandler(6), services.clicks)},
      CmdReferenceSet_(
          [this](const Object& cmdbar, bool& handled, bool& cancelDefault) {
            clicked(&Connect::CmdReferenceSet_Click, 0, cmdbar, handled, cancelDefault);
          },
          services.clicks) {}

automation::ClickHandler Connect::buttonHandler(int position) {
  return [this, position](const Object& cmdbar, bool& handled, bool& cancelDefault) {
    clicked(&Connect::BtnsN_Click, position, cmdbar, handled, cancelDefault);
  };
}

// The editor keeps delivering clicks while a command waits in a host's dialog or a message box.
// The commands assume they run one at a time, so a click meanwhile does nothing at all (a
// References click then leaves the editor's own dialog to open); and the add-in may be unloaded
// meanwhile, so it is held until the command has returned.
void Connect::clicked(ClickBody body, int position, const Object& cmdbar, bool& handled,
                      bool& CancelDefault) {
  if (busy_) return;
  Hold hold(owner_);
  Busy busy(busy_);
  if (position != 0 && !route_.accepts(cmdbar, position)) return;
  (this->*body)(cmdbar, handled, CancelDefault);
}

// Subscriptions end first (declared last), so no click reaches a half-destroyed object.
Connect::~Connect() = default;

void Connect::AddinInstance_OnConnection(const Object& Application, int32_t ConnectMode) {
  // The message box of a failed connection lets clicks and an unload through, as a command does.
  Hold hold(owner_);
  Busy busy(busy_);
  try {
    VBInstance_ = editor::VBE::from(Application).object();
    if (ConnectMode != 2) ToolbarAdd();
  } catch (const automation::Failure& f) {
    try {
      services_.messageBox.show(f.description());
    } catch (...) {
      // Nothing sensible is left to report to: the manager still sees a connected add-in.
    }
  }
}

void Connect::AddinInstance_OnDisconnection(int32_t /*RemoveMode*/) {
  auto guarded = [](auto&& step) {
    try {
      step();
    } catch (...) {
    }
  };
  guarded([&] {
    const char* value = FormDisplayed_ ? "1" : "0";
    FormDisplayed_ = false;
    services_.settings.save(identity::ApplicationTitle, identity::SettingsSection,
                            identity::DisplayOnConnectKey, value);
  });
  guarded([&] { c_.reset(); });
  for (auto& b : btns_) guarded([&] { b.set(Object()); });
  // The References hook ends here too, so the editor's own References dialog works again once
  // the add-in is unloaded.
  guarded([&] { CmdReferenceSet_.set(Object()); });
  guarded([&] { editor::VBE(VBInstance_).CommandBars().Item(identity::BarName).Delete(); });
  guarded([&] { VBInstance_.reset(); });
}

}  // namespace addin

#include "addin/connect.h"

#include <utility>

#include "addin/identity.h"
#include "editor/vbe.h"
#include "toolbar/buttons.h"

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

// The clicked button as the log names it: the one whose sink received the click.
std::string clickName(int position) {
  if (position == 0) return "References...";
  return "button " + std::to_string(position) + " \"" + toolbar::Buttons[position - 1].caption +
         "\"";
}

// What cmdclick ran for each row.
constexpr const char* RowActions[] = {"nothing",
                                      "activeprojaction(True)",
                                      "activeprojaction(False)",
                                      "allprojaction(True)",
                                      "allprojaction(False)",
                                      "UseFileDialogOpen",
                                      "closewb"};

const char* routeName(automation::ClickEvents events) {
  return events == automation::ClickEvents::OfficeButton ? "Office button events"
                                                         : "editor events (VBE.Events)";
}

}  // namespace

Connect::Connect(platform::Services services, platform::Lifetime* owner)
    : services_(services),
      logging_(services.log),
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
  if (busy_) {
    if (logging_.on())
      logging_.info("click: " + clickName(position) + ": ignored, a command is running");
    return;
  }
  Hold hold(owner_);
  Busy busy(busy_);
  auto watch = logging_.watch();
  // One path with the log on or off: while off, nothing below composes text or reads the clock.
  const bool log = logging_.on();
  Logging::Clock::time_point started{};
  if (log) started = Logging::Clock::now();
  auto name = [&] { return "click: " + clickName(position) + ": "; };
  dispatched_ = -1;
  try {
    if (position != 0 && !route_.accepts(cmdbar, position)) {
      if (log) logging_.info(name() + "ignored, not this bar's button");
      return;
    }
    (this->*body)(cmdbar, handled, CancelDefault);
  } catch (const automation::Failure& f) {
    if (log) {
      std::string ran = dispatched_ >= 0 ? std::string("ran ") + RowActions[dispatched_] + ", " : "";
      logging_.error(name() + ran + "failed after " + Logging::since(started) +
                     ", returned to the editor: " + Logging::describe(f));
    }
    throw;
  } catch (...) {
    if (log) logging_.error(name() + "ended by an unexpected error after " + Logging::since(started));
    throw;
  }
  if (!log) return;
  if (dispatched_ == 0) {
    logging_.info(name() + "ignored, past the sixth position (nothing to run there)");
    return;
  }
  const std::string ran = position == 0 ? "ran reflist (the References takeover)"
                                        : std::string("ran ") + RowActions[dispatched_];
  logging_.info(name() + ran + ", ended in " + Logging::since(started));
}

// Subscriptions end first (declared last), so no click reaches a half-destroyed object.
Connect::~Connect() = default;

// The setting is read at each connection; a log that cannot be opened is tried again at the next.
void Connect::startLog() noexcept {
  bool on = false;
  try {
    on = services_.settings.get(identity::ApplicationTitle, identity::SettingsSection,
                                identity::LogKey, "0") == "1";
  } catch (...) {
  }
  services_.log.start(on);
}

void Connect::AddinInstance_OnConnection(const Object& Application, int32_t ConnectMode) {
  // The message box of a failed connection lets clicks and an unload through, as a command does.
  Hold hold(owner_);
  Busy busy(busy_);
  startLog();
  hostVersion_.clear();
  auto watch = logging_.watch();
  const auto started = Logging::Clock::now();
  std::string line;
  if (logging_.on())
    line = "connect: " + Logging::addinName() + ", mode " + std::to_string(ConnectMode) +
           ", clicks through " + routeName(route_.events());
  try {
    VBInstance_ = editor::VBE::from(Application).object();
    if (logging_.on()) {
      std::string version = "?";
      automation::attempt([&] { version = editor::VBE(VBInstance_).Version(); });
      logging_.info(line + ", editor " + version);
      line.clear();
    }
    if (ConnectMode != 2) ToolbarAdd();
    if (logging_.on())
      logging_.info(std::string("connected in ") + Logging::since(started) +
                    (ConnectMode != 2 ? ", bar built" : ", no bar (external mode)"));
  } catch (const automation::Failure& f) {
    if (logging_.on()) {
      if (!line.empty()) logging_.info(line + ", not an editor");
      logging_.error("connection failed after " + Logging::since(started) +
                     ", shown in a message box: " + Logging::describe(f));
    }
    try {
      services_.messageBox.show(f.description());
    } catch (...) {
      // Nothing sensible is left to report to: the manager still sees a connected add-in.
    }
  }
}

void Connect::AddinInstance_OnDisconnection(int32_t RemoveMode) {
  auto watch = logging_.watch();
  auto guarded = [](auto&& step) {
    try {
      step();
      return true;
    } catch (...) {
      return false;
    }
  };
  const char* value = FormDisplayed_ ? "1" : "0";
  const bool saved = guarded([&] {
    FormDisplayed_ = false;
    services_.settings.save(identity::ApplicationTitle, identity::SettingsSection,
                            identity::DisplayOnConnectKey, value);
  });
  guarded([&] { c_.reset(); });
  for (auto& b : btns_) guarded([&] { b.set(Object()); });
  // The References hook ends here too, so the editor's own References dialog works again once
  // the add-in is unloaded.
  guarded([&] { CmdReferenceSet_.set(Object()); });
  const bool deleted =
      guarded([&] { editor::VBE(VBInstance_).CommandBars().Item(identity::BarName).Delete(); });
  guarded([&] { VBInstance_.reset(); });
  if (logging_.on())
    logging_.info("disconnect: mode " + std::to_string(RemoveMode) + ", DisplayOnConnect \"" +
                  value + "\" " + (saved ? "written" : "not written") + ", bar " +
                  (deleted ? "deleted" : "not found to delete") +
                  ", released c, Btns1 to Btns6, CmdReferenceSet and VBInstance");
  services_.log.stop();
}

Object Connect::hostApplication(const editor::VBE& vbe, host::Kind kind,
                                const std::string& appName) {
  if (!logging_.on()) return host::ownInstance(vbe, services_.hosts, kind, appName);
  host::Found how = host::Found::RunningObjectTable;
  Object app;
  try {
    app = host::ownInstance(vbe, services_.hosts, kind, appName, &how);
  } catch (const automation::Failure& f) {
    logging_.warning("host: " + appName + " not reached: " + Logging::describe(f));
    throw;
  }
  if (hostVersion_.empty()) {
    hostVersion_ = "?";
    automation::attempt([&] { hostVersion_ = app.get("Version").asString(); });
  }
  logging_.info("host: " + appName + " " + hostVersion_ + ", found " +
                (how == host::Found::ThroughEditor ? "through the editor (a document's Application)"
                                                   : "in the Running Object Table"));
  return app;
}

}  // namespace addin

#include "addin/connect.h"

#include "addin/identity.h"
#include "editor/vbe.h"

namespace addin {

void EventMember::set(const Object& events) {
  // Subscribe first: a source that refuses leaves the member as it was.
  automation::Subscription next;
  if (!events.empty()) next = events.subscribe(handler_);
  subscription_ = std::move(next);
  source_ = events;
}

namespace {
automation::ClickHandler buttonHandler(Connect* self) {
  return [self](const Object& cmdbar, bool& handled, bool& cancelDefault) {
    self->BtnsN_Click(cmdbar, handled, cancelDefault);
  };
}
}  // namespace

Connect::Connect(platform::Services services)
    : services_(services),
      btns_{EventMember(buttonHandler(this)), EventMember(buttonHandler(this)),
            EventMember(buttonHandler(this)), EventMember(buttonHandler(this)),
            EventMember(buttonHandler(this)), EventMember(buttonHandler(this))},
      CmdReferenceSet_([this](const Object& cmdbar, bool& handled, bool& cancelDefault) {
        CmdReferenceSet_Click(cmdbar, handled, cancelDefault);
      }) {}

// Subscriptions end first (declared last), so no click reaches a half-destroyed object.
Connect::~Connect() = default;

void Connect::AddinInstance_OnConnection(const Object& Application, int32_t ConnectMode) {
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

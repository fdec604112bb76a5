// The IDispatch adapters, both ways, through real COM calls: an object exposed as IDispatch and
// reached again through a dispatch client must behave as the object itself.
#include <ocidl.h>

#include <optional>
#include <vector>

#include "check.h"
#include "dispatch_client.h"
#include "dispatch_server.h"
#include "module_objects.h"
#include "text.h"
#include "variant.h"

using automation::Invoke;
using automation::NamedArg;
using automation::Object;
using automation::Value;

namespace {

struct Call {
  std::string member;
  Invoke kind;
  std::vector<Value> args;
  std::vector<NamedArg> named;
};

class Fake final : public automation::Dispatch, public std::enable_shared_from_this<Fake> {
 public:
  explicit Fake(bool isEditor = false) : isEditor_(isEditor) {}
  std::vector<Call> calls;
  Object child;
  automation::ClickHandler handler;
  bool subscriptionEnded = false;
  bool refuseSubscription = false;
  std::optional<automation::ClickEvents> subscribedWith;

  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override {
    calls.push_back({std::string(member), kind, {args.begin(), args.end()}, {named.begin(), named.end()}});
    if (automation::sameName(member, "Name")) return Value("Modul\xC3\xA9 \xE2\x82\xAC");
    if (automation::sameName(member, "Child")) return Value(child);
    if (automation::sameName(member, "Count")) return Value::i4(42);
    if (automation::sameName(member, "Fail")) automation::fail("boom", 5);
    if (automation::sameName(member, "Locked")) automation::fail("Project is locked", 50289);
    return Value();
  }
  std::unique_ptr<automation::Enumeration> enumerate() override {
    struct E : automation::Enumeration {
      int i = 0;
      std::optional<Value> next() override {
        if (i == 3) return std::nullopt;
        return Value::i2(static_cast<int16_t>(++i));
      }
    };
    return std::make_unique<E>();
  }
  automation::Subscription subscribe(automation::ClickHandler h, automation::ClickEvents events) override {
    if (refuseSubscription) automation::fail("Events are not available for this control", 440);
    subscribedWith = events;
    handler = std::move(h);
    subscriptionEnded = false;
    return automation::Subscription([this] {
      handler = nullptr;
      subscriptionEnded = true;
    });
  }
  bool implements(std::string_view name) const override {
    // A button raises Office's button events itself.
    return automation::sameName(name, "CommandBarControl") || (isEditor_ && automation::sameName(name, "VBE"));
  }

 private:
  bool isEditor_;
};

// A client over a server, built by hand so that the calls really cross IDispatch.
Object throughCom(const Object& o) {
  auto server = win32::makeDispatchServer(o);
  return Object(std::make_shared<win32::DispatchClient>(win32::ComPtr<IUnknown>(server.get()), server));
}

void callsCrossIDispatch() {
  auto fake = std::make_shared<Fake>(true);
  auto childFake = std::make_shared<Fake>();
  fake->child = Object(childFake);
  {
    Object original(fake);
    Object o = throughCom(original);
    CHECK(o.target() != original.target());

    CHECK_EQ(o.get("name").asString(), std::string("Modul\xC3\xA9 \xE2\x82\xAC"));
    CHECK_EQ(fake->calls.back().member, std::string("name"));
    CHECK(fake->calls.back().kind == Invoke::Get);

    // Positional order survives the reversal; a left-out argument stays left out.
    o.call("Item", {Value::i2(3), Value::missing(), Value("x")});
    const Call& item = fake->calls.back();
    CHECK_EQ(item.args.size(), 3u);
    if (item.args.size() == 3) {
      CHECK(item.args[0] == Value::i2(3));
      CHECK(item.args[1].isMissing());
      CHECK(item.args[2] == Value("x"));
    }

    o.call("FindControl", {}, {{"Id", Value::i2(942)}});
    const Call& find = fake->calls.back();
    CHECK_EQ(find.args.size(), 0u);
    CHECK_EQ(find.named.size(), 1u);
    if (find.named.size() == 1) {
      CHECK(automation::sameName(find.named[0].name, "Id"));
      CHECK(find.named[0].value == Value::i2(942));
    }

    o.put("Visible", Value::boolean(true));
    CHECK(fake->calls.back().kind == Invoke::Put);
    CHECK(fake->calls.back().args.size() == 1 && fake->calls.back().args[0] == Value::boolean(true));
    o.put("Caption", Value::i4(-7));
    CHECK(fake->calls.back().args.size() == 1 && fake->calls.back().args[0] == Value::i4(-7));

    // Objects handed through come back as themselves.
    auto other = std::make_shared<Fake>();
    o.putRef("ActiveVBProject", Object(other));
    CHECK(fake->calls.back().kind == Invoke::PutRef);
    CHECK(fake->calls.back().args.size() == 1 && fake->calls.back().args[0].asObject() == Object(other));
    CHECK(o.get("Child").asObject() == fake->child);
    o.putRef("ActiveVBProject", Object());
    CHECK(fake->calls.back().args.size() == 1 && fake->calls.back().args[0].asObject().empty());

    CHECK_FAILS(5, o.call("Fail"));
    try {
      o.call("Locked");
    } catch (const automation::Failure& f) {
      CHECK_EQ(f.description(), std::string("Project is locked"));
      CHECK_EQ(f.code(), 50289);
    }

    CHECK(o.implements("VBE"));
    CHECK(!throughCom(fake->child).implements("VBE"));

    // A client keeps the ids it was given: past the first few names, a long name, and a name
    // asked again in another case must each still reach their own member.
    Object fresh = throughCom(original);
    for (const char* m : {"Alpha", "Beta", "Gamma", "AVeryLongMemberNameIndeed", "Delta", "alpha",
                          "BETA", "averylongmembernameindeed", "delta", "gamma"}) {
      fresh.get(m);
      CHECK(automation::sameName(fake->calls.back().member, m));
    }

    auto e = o.enumerate();
    std::vector<int> seen;
    while (auto v = e.next()) seen.push_back(v->asInt());
    CHECK((seen == std::vector<int>{1, 2, 3}));
  }
  CHECK_EQ(fake.use_count(), 1);
  CHECK_EQ(childFake.use_count(), 2);  // fake->child
}

// Both kinds of click events: the editor's (control, handled, CancelDefault) and Office's button
// events (Ctrl, CancelDefault), which carry no "handled".
void clicksArriveThroughConnectionPoints(automation::ClickEvents kind) {
  const bool withHandled = kind == automation::ClickEvents::EditorControl;
  auto events = std::make_shared<Fake>();
  auto control = std::make_shared<Fake>();
  Object o = throughCom(Object(events));
  Object seenControl;
  int clicks = 0;
  automation::Subscription s = o.subscribe(
      [&](const Object& c, bool& handled, bool& cancel) {
        ++clicks;
        seenControl = c;
        CHECK(!handled);
        cancel = true;
      },
      kind);
  CHECK(events->handler != nullptr);
  CHECK(events->subscribedWith == kind);
  if (events->handler) {
    bool handled = false, cancel = false;
    events->handler(Object(control), handled, cancel);
    CHECK_EQ(clicks, 1);
    CHECK(cancel);
    CHECK(!handled);
    CHECK(seenControl == Object(control));
  }
  seenControl.reset();

  // A failing handler reaches the event source as the failure of the event call.
  automation::Subscription failing = o.subscribe([](const Object&, bool&, bool&) { automation::fail("no", 91); }, kind);
  if (events->handler) {
    bool handled = false, cancel = false;
    CHECK_FAILS(91, events->handler(Object(control), handled, cancel));
  }
  failing.reset();
  CHECK(events->subscriptionEnded);

  // A handler that cancels the editor's own command and then fails: the command stays cancelled
  // (the flags are the editor's variables, passed by reference), and the failure still arrives.
  automation::Subscription cancelling = o.subscribe(
      [](const Object&, bool& handled, bool& cancel) {
        handled = true;
        cancel = true;
        automation::fail("the report failed", 5);
      },
      kind);
  if (events->handler) {
    bool handled = false, cancel = false;
    CHECK_FAILS(5, events->handler(Object(control), handled, cancel));
    CHECK(cancel);
    CHECK_EQ(handled, withHandled);
  }
  cancelling.reset();

  // A source that refuses the subscription: its own description and number reach the caller,
  // not a bare "Automation error".
  events->refuseSubscription = true;
  try {
    automation::Subscription refused = o.subscribe([](const Object&, bool&, bool&) {}, kind);
    CHECK(!"a refused subscription must fail");
  } catch (const automation::Failure& f) {
    CHECK_EQ(f.code(), 440);
    CHECK_EQ(f.description(), std::string("Events are not available for this control"));
  }
  events->refuseSubscription = false;
  s.reset();
  o.reset();
  CHECK_EQ(events.use_count(), 1);
  CHECK_EQ(control.use_count(), 1);
}

void variantsConvert() {
  win32::Variant v;
  win32::toVariant(Value::missing(), v.get());
  CHECK(V_VT(v.get()) == VT_ERROR && V_ERROR(v.get()) == DISP_E_PARAMNOTFOUND);
  CHECK(win32::fromVariant(*v).isMissing());

  win32::Variant b;
  win32::toVariant(Value::boolean(true), b.get());
  CHECK(V_VT(b.get()) == VT_BOOL && V_BOOL(b.get()) == VARIANT_TRUE);

  VARIANT_BOOL flag = VARIANT_TRUE;
  VARIANT ref;
  V_VT(&ref) = VT_BOOL | VT_BYREF;
  V_BOOLREF(&ref) = &flag;
  CHECK(win32::fromVariant(ref) == Value::boolean(true));

  VARIANT d;
  V_VT(&d) = VT_R8;
  V_R8(&d) = 3.0;
  CHECK(win32::fromVariant(d) == Value::i4(3));
  V_VT(&d) = VT_DATE;
  V_DATE(&d) = 1e12;
  CHECK_FAILS(13, win32::fromVariant(d));
}

// Texts cross as UTF-16: whatever path a text takes (plain ASCII or not), it must come out as the
// system's own conversion makes it, bad bytes and lone surrogates included.
void textsConvertAsTheSystemDoes() {
  auto systemWide = [](const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
  };
  const std::string texts[] = {"",
                               "Visible",
                               "C:\\PROGRA~1\\Lib.dll",
                               std::string("a\0b", 3),
                               "Modul\xC3\xA9 \xE2\x82\xAC",
                               "\xF0\x9F\x98\x80",
                               "bad \xFF\xC3 end",
                               "\x7F"};
  for (const auto& t : texts) {
    CHECK(win32::widen(t) == systemWide(t));
    win32::Bstr b(t);
    CHECK(std::wstring(b.get(), SysStringLen(b.get())) == systemWide(t));
    if (t.find('\xFF') == std::string::npos) CHECK_EQ(win32::narrowBstr(b.get()), t);
  }
  const wchar_t lone[] = {L'x', 0xD800, L'y'};
  CHECK_EQ(win32::narrow(lone, 3), std::string("x\xEF\xBF\xBDy"));
  CHECK_EQ(win32::narrow(L"Project1.xlsm"), std::string("Project1.xlsm"));
}

// Another module's view of an object: not one of this module's servers, as the editor's are not.
class Foreign final : public IDispatch {
 public:
  explicit Foreign(IDispatch* inner) : inner_(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IDispatch ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the test's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    return inner_->GetTypeInfoCount(n);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
    return inner_->GetTypeInfo(i, l, t);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l,
                                          DISPID* d) override {
    return inner_->GetIDsOfNames(r, n, c, l, d);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v,
                                   EXCEPINFO* e, UINT* a) override {
    return inner_->Invoke(id, r, l, f, p, v, e, a);
  }

 private:
  IDispatch* inner_;
};

// Clients are recycled for speed, but a burst of them must not stay kept, and unloading gives
// every kept block back.
void clientsAreRecycledWithinBounds() {
  auto server = win32::makeDispatchServer(Object(std::make_shared<Fake>()));
  Foreign foreign(server.get());
  {
    std::vector<Object> burst;
    for (int i = 0; i < 200; ++i) {
      burst.push_back(win32::adoptDispatch(&foreign));
      CHECK(burst.back().get("Count") == Value::i4(42));
    }
  }
  CHECK(win32::recycledClients() > 0);
  CHECK(win32::recycledClients() <= 32);
  CHECK(win32::adoptDispatch(&foreign).get("Count") == Value::i4(42));
  win32::releaseRecycledClients();
  CHECK_EQ(win32::recycledClients(), size_t{0});
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  callsCrossIDispatch();
  clicksArriveThroughConnectionPoints(automation::ClickEvents::EditorControl);
  clicksArriveThroughConnectionPoints(automation::ClickEvents::OfficeButton);
  variantsConvert();
  textsConvertAsTheSystemDoes();
  clientsAreRecycledWithinBounds();
  CHECK_EQ(win32::liveObjects(), 0);
  CoUninitialize();
  return check::finish("adapters");
}

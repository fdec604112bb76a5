// The real DLL while one of its commands waits inside a host call (the Open dialog's Show, the
// Open control's Execute, a workbook's Close, DoCmd.Close): clicks that arrive meanwhile and an
// unload by the Add-In Manager. And the click sink's own boundary: the ways an editor may pass the
// flags, and names asked for with no arrays.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <functional>

#include "check.h"
#include "com_ptr.h"
#include "dll.h"
#include "iids.h"
#include "services.h"
#include "model/hosts.h"
#include "testbed.h"

using win32::ComPtr;

namespace {

using model::HostKind;

const char* const Bar = "Tessary Ver. 1.01";

struct Wait {
  const char* name;
  HostKind kind;
  const char* file;
  int button;
};

const Wait Waits[] = {
    {"Excel's Open dialog", HostKind::Excel, "Book.xlsm", 5},
    {"Access's Open command", HostKind::Access, "Orders.accdb", 5},
    {"Excel closing a workbook", HostKind::Excel, "Book.xlsm", 6},
    {"Access's DoCmd.Close", HostKind::Access, "Orders.accdb", 6},
};

enum class Reentry { OtherButton, SameButton, References, Unload };
const char* const ReentryNames[] = {"another button", "the same button", "Tools > References...", "unload"};

void runOne(testbed::Addin& addin, dll::Module& module, const Wait& w, Reentry what) {
  std::printf("  %s, %s\n", w.name, ReentryNames[static_cast<int>(what)]);
  model::Editor editor = model::EditorBuilder()
                             .host(model::displayNameOf(w.kind))
                             .project("VBAProject", w.file)
                             .component("Module1", 1)
                             .build();
  model::HostBuilder hb(editor, w.kind);
  hb.file(w.file);
  model::Host host = hb.build();
  {
    testbed::RunningObject running(host.progId(), host.application());
    CHECK(running.ready());
    CHECK_HR(addin.connect(editor.vbe(), 0), S_OK);
    // The Open commands show the editor's main window at their end, whatever happened meanwhile.
    if (w.button == 5) editor.world().mainWindow->visible = false;

    model::ClickResult inner;
    bool ran = false, aliveAfterRelease = false;
    host.state().whileWaiting = [&](const std::string&) {
      host.state().whileWaiting = nullptr;
      ran = true;
      switch (what) {
        case Reentry::OtherButton: inner = editor.click(Bar, 1); break;
        case Reentry::SameButton: inner = editor.click(Bar, w.button); break;
        case Reentry::References:
          for (const auto& c : editor.bar("Tools")->controls)
            if (c->id == 942) inner = editor.click(c);
          break;
        case Reentry::Unload:
          CHECK_HR(addin.disconnect(0), S_OK);
          addin.release();
          // Its last reference is gone, yet the command on the stack still owns the object.
          aliveAfterRelease = module.canUnloadNow() == S_FALSE;
          break;
      }
    };
    model::ClickResult outer = editor.click(Bar, w.button);
    CHECK(ran);
    CHECK(outer.failures.empty());
    for (const auto& f : outer.failures) std::printf("    failure: %s\n", f.c_str());
    CHECK(inner.failures.empty());

    // The waiting command ran to its end, once, and left the editor usable.
    CHECK(editor.world().mainWindow->visible);
    CHECK(host.visible());
    if (w.button == 5)
      CHECK_EQ(w.kind == HostKind::Excel ? host.shown(1) : host.executed(2937), 1);
    else if (w.kind == HostKind::Access)
      CHECK_EQ(host.state().docmdCloses, 1);
    else
      CHECK(!host.isOpen(w.file));
    // Nothing that arrived meanwhile ran.
    CHECK(!editor.component("VBAProject", "Module1")->codeWindow->visible);
    if (what == Reentry::References) {
      CHECK(!inner.cancelled);
      CHECK(inner.builtInRan);
      CHECK_EQ(editor.world().referencesDialogOpened, 1);
    }

    if (what == Reentry::Unload) {
      CHECK(aliveAfterRelease);
      CHECK_EQ(editor.barCount(Bar), 0);
      CHECK_HR(module.canUnloadNow(), S_OK);
    } else {
      // The command is over: the next click runs.
      CHECK(editor.click(Bar, 1).failures.empty());
      CHECK(editor.component("VBAProject", "Module1")->codeWindow->visible);
      CHECK_HR(addin.disconnect(1), S_OK);
      addin.release();
    }
  }
  CHECK_EQ(editor.liveReferences(), 0);
}

// A CommandBarEvents stand-in that keeps the sink the add-in advises, so a test can call it the
// way any editor might.
class EventSource final : public IDispatch, public IConnectionPointContainer, public IConnectionPoint {
 public:
  ComPtr<IDispatch> sink;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, win32::iids::CommandBarEvents))
      *out = static_cast<IDispatch*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer))
      *out = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPoint))
      *out = static_cast<IConnectionPoint*>(this);
    else
      return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint** out) override {
    AddRef();
    *out = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* s, DWORD* cookie) override {
    if (FAILED(s->QueryInterface(IID_IDispatch, sink.putVoid()))) return CONNECT_E_CANNOTCONNECT;
    *cookie = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override {
    sink.reset();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }
  ULONG references() const { return refs_; }

 private:
  ULONG refs_ = 0;
};

HRESULT putRef(IDispatch* target, const wchar_t* name, IUnknown* value) {
  LPOLESTR n = const_cast<LPOLESTR>(name);
  DISPID id = 0;
  HRESULT hr = target->GetIDsOfNames(IID_NULL, &n, 1, 0, &id);
  if (FAILED(hr)) return hr;
  VARIANT arg;
  V_VT(&arg) = VT_UNKNOWN;
  V_UNKNOWN(&arg) = value;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &put, 1, 1};
  return target->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUTREF, &params, nullptr, nullptr, nullptr);
}

void theSinksBoundary(testbed::Addin& addin) {
  std::printf("  the click sink's boundary\n");
  CHECK_HR(addin.create(), S_OK);
  ComPtr<IDispatch> connect;
  CHECK(addin.object() && SUCCEEDED(addin.object()->QueryInterface(IID_IDispatch, connect.putVoid())));
  if (!connect) return;
  // Names asked for with no arrays: refused, not dereferenced.
  CHECK_HR(connect->GetIDsOfNames(IID_NULL, nullptr, 1, 0, nullptr), E_POINTER);

  EventSource source;
  CHECK_HR(putRef(connect.get(), L"CmdReferenceSet", static_cast<IDispatch*>(&source)), S_OK);
  CHECK(source.sink);
  if (!source.sink) return;
  CHECK_HR(source.sink->GetIDsOfNames(IID_NULL, nullptr, 1, 0, nullptr), E_POINTER);

  // The flags as Variants by reference that hold references to Booleans: CancelDefault is set
  // through them even though the click fails afterwards (no editor is connected). Office's button
  // events, which this build may take, have no "handled".
  const UINT count = win32::ClickEventsOfThisBuild == automation::ClickEvents::EditorControl ? 3 : 2;
  VARIANT_BOOL handled = VARIANT_FALSE, cancel = VARIANT_FALSE;
  VARIANT handledRef, cancelRef, args[3];
  V_VT(&handledRef) = VT_BOOL | VT_BYREF;
  V_BOOLREF(&handledRef) = &handled;
  V_VT(&cancelRef) = VT_BOOL | VT_BYREF;
  V_BOOLREF(&cancelRef) = &cancel;
  V_VT(&args[0]) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&args[0]) = &cancelRef;
  if (count == 3) {
    V_VT(&args[1]) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&args[1]) = &handledRef;
  }
  V_VT(&args[count - 1]) = VT_DISPATCH;
  V_DISPATCH(&args[count - 1]) = nullptr;
  DISPPARAMS params{args, nullptr, count, 0};
  EXCEPINFO info{};
  HRESULT hr = source.sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &info, nullptr);
  CHECK(FAILED(hr));
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  CHECK_EQ(cancel, VARIANT_TRUE);
  CHECK_EQ(handled, VARIANT_FALSE);

  CHECK_HR(putRef(connect.get(), L"CmdReferenceSet", nullptr), S_OK);
  CHECK(!source.sink);
  connect.reset();
  addin.release();
  CHECK_EQ(source.references(), 0u);
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    testbed::Addin addin;
    CHECK(addin.ready());
    dll::Module module;
    CHECK(module.loaded());
    if (addin.ready() && module.loaded()) {
      for (const Wait& w : Waits)
        for (Reentry what : {Reentry::OtherButton, Reentry::SameButton, Reentry::References, Reentry::Unload})
          runOne(addin, module, w, what);
      theSinksBoundary(addin);
    } else {
      std::printf("set-up: %s\n", addin.problem().c_str());
    }
  }
  CoUninitialize();
  return check::finish("re-entry");
}

// The type library embedded in vbatessary.dll, read back as the editor's add-in manager sees it.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "dll.h"
#include "iids.h"
#include "standins.h"
#include "text.h"

using win32::ComPtr;

namespace {

struct Expected {
  const char* name;
  MEMBERID id;
  INVOKEKIND kind;
  std::vector<const char*> params;  // named parameters, the result included
};

constexpr INVOKEKIND Get = INVOKE_PROPERTYGET, Let = INVOKE_PROPERTYPUT, Set = INVOKE_PROPERTYPUTREF,
                     Method = INVOKE_FUNC;

// Interface order; a property's assigned value is unnamed, as COM has it.
const std::vector<Expected> members = {
    {"VBInstance", 0x40030000, Get, {"VBInstance"}}, {"VBInstance", 0x40030000, Set, {}},
    {"c", 0x40030001, Get, {"c"}}, {"c", 0x40030001, Set, {}},
    {"btncaption", 0x40030002, Get, {"btncaption"}}, {"btncaption", 0x40030002, Let, {}},
    {"FormDisplayed", 0x40030003, Get, {"FormDisplayed"}}, {"FormDisplayed", 0x40030003, Let, {}},
    {"Btns5", 0x40030008, Get, {"Btns5"}}, {"Btns5", 0x40030008, Set, {}},
    {"Btns6", 0x40030009, Get, {"Btns6"}}, {"Btns6", 0x40030009, Set, {}},
    {"CmdReferenceSet", 0x4003000A, Get, {"CmdReferenceSet"}}, {"CmdReferenceSet", 0x4003000A, Set, {}},
    {"Btns1", 0x40030004, Get, {"Btns1"}}, {"Btns1", 0x40030004, Set, {}},
    {"Btns2", 0x40030005, Get, {"Btns2"}}, {"Btns2", 0x40030005, Set, {}},
    {"Btns3", 0x40030006, Get, {"Btns3"}}, {"Btns3", 0x40030006, Set, {}},
    {"Btns4", 0x40030007, Get, {"Btns4"}}, {"Btns4", 0x40030007, Set, {}},
    {"CmdReferenceSet_Click", 0x60030008, Method, {"cmdbar", "handled", "CancelDefault"}},
    {"cmdbarbtnadd", 0x60030009, Method, {"cmdbarname"}},
    {"cmdbaradd", 0x6003000A, Method, {"cmdbarname"}},
    {"ToolbarAdd", 0x6003000B, Method, {}},
    {"getappname", 0x6003000C, Method, {"getappname"}},
    {"closewb", 0x6003000D, Method, {}},
    {"UseFileDialogOpen", 0x6003000E, Method, {}},
    {"reflist", 0x6003000F, Method, {}},
    {"getwbname", 0x60030010, Method, {"getwbname"}},
    {"eventset", 0x60030011, Method, {"cmd", "eventset"}},
    {"activeprojaction", 0x60030012, Method, {"bflag"}},
    {"allprojaction", 0x60030013, Method, {"bflag"}},
    {"cmdclick", 0x60030014, Method, {"cID"}},
};

std::string name(ITypeInfo* info, MEMBERID id) {
  BSTR text = nullptr;
  info->GetDocumentation(id, &text, nullptr, nullptr, nullptr);
  std::string r = win32::narrowBstr(text);
  SysFreeString(text);
  return r;
}

// The library that defines the type a parameter points to.
GUID libraryOfParameter(ITypeInfo* info, const FUNCDESC* f, int param) {
  GUID none{};
  const TYPEDESC* t = &f->lprgelemdescParam[param].tdesc;
  while (t->vt == VT_PTR) t = t->lptdesc;
  if (t->vt != VT_USERDEFINED) return none;
  ComPtr<ITypeInfo> ref;
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  if (FAILED(info->GetRefTypeInfo(t->hreftype, ref.put())) || FAILED(ref->GetContainingTypeLib(lib.put(), &index)))
    return none;
  TLIBATTR* attr = nullptr;
  lib->GetLibAttr(&attr);
  GUID g = attr->guid;
  lib->ReleaseTLibAttr(attr);
  return g;
}

void library(ITypeLib* lib) {
  TLIBATTR* attr = nullptr;
  CHECK_HR(lib->GetLibAttr(&attr), S_OK);
  if (attr) {
    CHECK(IsEqualGUID(attr->guid, win32::iids::Library));
    CHECK_EQ(attr->lcid, 0u);
    CHECK_EQ(attr->wMajorVerNum, 1);
    CHECK_EQ(attr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(attr);
  }
  BSTR libName = nullptr, help = nullptr;
  lib->GetDocumentation(-1, &libName, &help, nullptr, nullptr);
  CHECK_EQ(win32::narrowBstr(libName), std::string("VBATessary"));
  CHECK_EQ(win32::narrowBstr(help), std::string("VBATessary Ver. 1.01"));
  SysFreeString(libName);
  SysFreeString(help);
  CHECK_EQ(lib->GetTypeInfoCount(), 2u);

  ComPtr<ITypeInfo> coclass;
  CHECK_HR(lib->GetTypeInfoOfGuid(win32::iids::ConnectClass, coclass.put()), S_OK);
  if (coclass) {
    TYPEATTR* a = nullptr;
    coclass->GetTypeAttr(&a);
    CHECK(a->typekind == TKIND_COCLASS);
    CHECK(a->wTypeFlags & TYPEFLAG_FCANCREATE);
    CHECK_EQ(a->cImplTypes, 1);
    CHECK_EQ(a->wMajorVerNum, 1);
    coclass->ReleaseTypeAttr(a);
    CHECK_EQ(name(coclass.get(), MEMBERID_NIL), std::string("Connect"));
    INT flags = 0;
    coclass->GetImplTypeFlags(0, &flags);
    CHECK(flags & IMPLTYPEFLAG_FDEFAULT);
    CHECK(!(flags & IMPLTYPEFLAG_FSOURCE));
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> iface;
    coclass->GetRefTypeOfImplType(0, &ref);
    coclass->GetRefTypeInfo(ref, iface.put());
    if (iface) CHECK_EQ(name(iface.get(), MEMBERID_NIL), std::string("_Connect"));
  }
}

void connectInterface(ITypeLib* lib) {
  ComPtr<ITypeInfo> dispatch;
  CHECK_HR(lib->GetTypeInfoOfGuid(win32::iids::Connect, dispatch.put()), S_OK);
  if (!dispatch) return;
  TYPEATTR* a = nullptr;
  dispatch->GetTypeAttr(&a);
  CHECK(a->typekind == TKIND_DISPATCH);
  // oleautomation is reported on the vtable half of a dual interface.
  const WORD flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
  if (!CHECK_EQ(a->wTypeFlags, flags)) std::printf("    typeflags 0x%X\n", a->wTypeFlags);
  CHECK_EQ(a->wMajorVerNum, 1);
  CHECK_EQ(a->wMinorVerNum, 0);
  dispatch->ReleaseTypeAttr(a);

  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> vtable;
  CHECK_HR(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  CHECK_HR(dispatch->GetRefTypeInfo(ref, vtable.put()), S_OK);
  if (!vtable) return;
  vtable->GetTypeAttr(&a);
  CHECK(a->typekind == TKIND_INTERFACE);
  CHECK_EQ(a->wTypeFlags, flags | TYPEFLAG_FOLEAUTOMATION);
  CHECK_EQ(a->cFuncs, static_cast<WORD>(members.size()));
  const WORD count = a->cFuncs;
  vtable->ReleaseTypeAttr(a);

  std::vector<std::string> distinct;
  for (UINT i = 0; i < count && i < members.size(); ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(vtable->GetFuncDesc(i, &f))) {
      CHECK(!"GetFuncDesc");
      continue;
    }
    const Expected& e = members[i];
    BSTR names[8] = {};
    UINT got = 0;
    vtable->GetNames(f->memid, names, 8, &got);  // the first function of that memid
    std::string fname = name(vtable.get(), f->memid);
    bool ok = CHECK_EQ(fname, std::string(e.name));
    ok &= CHECK_EQ(f->memid, e.id);
    ok &= CHECK_EQ(f->invkind, e.kind);
    ok &= CHECK_EQ(static_cast<size_t>(f->oVft), (7 + i) * sizeof(void*));
    // Parameter names are reported per function; GetNames on a property answers for the getter.
    if (e.kind != Set && e.kind != Let) {
      ok &= CHECK_EQ(got, e.params.size() + 1);
      for (UINT k = 1; k < got && k <= e.params.size(); ++k)
        ok &= CHECK_EQ(win32::narrowBstr(names[k]), std::string(e.params[k - 1]));
    } else {
      ok &= CHECK_EQ(f->cParams, 1);
    }
    if (!ok) std::printf("    at function %u (%s)\n", i, e.name);
    for (UINT k = 0; k < got; ++k) SysFreeString(names[k]);
    if (distinct.empty() || distinct.back() != fname) distinct.push_back(fname);

    // Editor and Office types come from their own libraries, by reference.
    if (e.id == 0x40030000 && e.kind == Set) CHECK(IsEqualGUID(libraryOfParameter(vtable.get(), f, 0), standins::Vbide));
    if (e.id == 0x40030001 && e.kind == Set) CHECK(IsEqualGUID(libraryOfParameter(vtable.get(), f, 0), standins::Office));
    if (e.id == 0x40030004 && e.kind == Set) CHECK(IsEqualGUID(libraryOfParameter(vtable.get(), f, 0), standins::Vbide));
    vtable->ReleaseFuncDesc(f);
  }
  CHECK_EQ(distinct.size(), 24u);
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    standins::Registration imports;
    ComPtr<ITypeLib> lib;
    CHECK_HR(LoadTypeLibEx(dll::path().c_str(), REGKIND_NONE, lib.put()), S_OK);
    if (lib) {
      library(lib.get());
      connectInterface(lib.get());
    }
  }
  CoUninitialize();
  return check::finish("typelib");
}

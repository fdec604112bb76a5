#pragma once

#include <windows.h>
#include <oaidl.h>

#include <new>

#include "automation/failure.h"

namespace win32 {

// VB error numbers travel as 0x800A0000 | number; anything else is an HRESULT already.
HRESULT toHresult(const automation::Failure& failure) noexcept;
int32_t codeOf(HRESULT hr) noexcept;

// The failure a client sees for a failed Invoke (description from EXCEPINFO when there is one).
automation::Failure failureFrom(HRESULT hr, EXCEPINFO* info);
// For failed calls that carry no EXCEPINFO (QueryInterface, GetIDsOfNames, ...).
automation::Failure failureFrom(HRESULT hr, const char* what);
// The same, with the description the callee left through SetErrorInfo when there is one (clear
// it with SetErrorInfo(0, nullptr) before the call).
automation::Failure failureWithErrorInfo(HRESULT hr, const char* what);

// Fills EXCEPINFO for DISP_E_EXCEPTION returns of our own Invoke implementations.
void fillExcepInfo(EXCEPINFO* info, const automation::Failure& failure) noexcept;
// Publishes the description through SetErrorInfo and returns the HRESULT.
HRESULT reportFailure(const automation::Failure& failure, const IID& iid) noexcept;

// Runs a COM method body: nothing thrown may cross into the caller.
template <class Body>
HRESULT guarded(const IID& iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const automation::Failure& f) {
    return reportFailure(f, iid);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace win32

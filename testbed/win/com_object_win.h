// Reference counting, QueryInterface and the IDispatch members for the
// testbed's COM objects. The objects are reached through their vtables
// only, so IDispatch offers no type information and no late binding.
#pragma once

#include <windows.h>

#include <atomic>
#include <new>

#include "fw_objects_win.h"

namespace testbed {

// IUnknown for an object that offers one interface (and what AlsoAnswers
// adds), holding a lock on the module while it lives.
template <typename Interface>
class CountedObject : public Interface {
 public:
  CountedObject() { AddModuleLock(); }
  virtual ~CountedObject() { RemoveModuleLock(); }
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface)) || AlsoAnswers(iid)) {
      *out = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual bool AlsoAnswers(REFIID) const { return false; }

 private:
  std::atomic<ULONG> refs_{1};
};

template <typename Interface>
class DispatchObject : public CountedObject<Interface> {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  bool AlsoAnswers(REFIID iid) const override { return IsEqualIID(iid, IID_IDispatch) != FALSE; }
};

// Hands a new object (holding one reference) out as the requested interface.
template <typename Object>
HRESULT HandOut(Object* object, REFIID iid, void** out) {
  if (!object) return E_OUTOFMEMORY;
  if (!out) {
    object->Release();
    return E_POINTER;
  }
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace testbed

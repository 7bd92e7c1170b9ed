// Reference counting, QueryInterface and the IDispatch members for the
// simulated firewall objects. The objects are reached through their vtables
// only, so IDispatch offers no type information and no late binding. Each
// object counts itself and its references on its host.
#pragma once

#include <windows.h>

#include <atomic>
#include <new>
#include <utility>

#include "host_access_win.h"

namespace testbed {

// IUnknown for an object that offers one interface (and what AlsoAnswers
// adds).
template <typename Interface>
class CountedObject : public Interface {
 public:
  explicit CountedObject(HostPtr host) : host_(std::move(host)) {
    host_->CountObject(1);
    host_->CountReference(1);
  }
  virtual ~CountedObject() { host_->CountObject(-1); }
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
  STDMETHODIMP_(ULONG) AddRef() override {
    host_->CountReference(1);
    return ++refs_;
  }
  STDMETHODIMP_(ULONG) Release() override {
    host_->CountReference(-1);
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual bool AlsoAnswers(REFIID) const { return false; }
  HostAccess& host() const { return *host_; }
  const HostPtr& hostPtr() const { return host_; }

 private:
  HostPtr host_;
  std::atomic<ULONG> refs_{1};
};

template <typename Interface>
class DispatchObject : public CountedObject<Interface> {
 public:
  using CountedObject<Interface>::CountedObject;
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

// The class object of one firewall class over a host. Its own references
// are COM's business and stay out of the host's count; where locks is given
// (a server module), it holds one while it lives, as LockServer does.
class ClassFactory final : public IClassFactory {
 public:
  using Creator = HRESULT (*)(const HostPtr&, REFIID, void**);
  ClassFactory(HostPtr host, Creator create, std::atomic<long>* locks = nullptr)
      : host_(std::move(host)), create_(create), locks_(locks) {
    if (locks_) ++*locks_;
  }
  ~ClassFactory() {
    if (locks_) --*locks_;
  }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
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
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(host_, iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (locks_) lock ? ++*locks_ : --*locks_;
    return S_OK;
  }

 private:
  HostPtr host_;
  Creator create_;
  std::atomic<long>* locks_;
  std::atomic<ULONG> refs_{1};
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

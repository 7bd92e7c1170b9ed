#include "firewall/com_test_tools.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <set>

namespace qf::testtools {

class AllocationSpy::Spy : public IMallocSpy {
 public:
  virtual ~Spy() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
      *out = static_cast<IMallocSpy*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (block) Track(block);
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
    if (block) Forget(block);
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** actual, BOOL) override {
    *actual = block;
    reallocating_ = block && live_.count(block) != 0;
    if (reallocating_) live_.erase(block);
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override {
    if (block && reallocating_) live_.insert(block);
    reallocating_ = false;
    return block;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  long live() const { return static_cast<long>(live_.size()); }
  long allocations() const { return allocations_; }
  long doubleFrees() const { return doubleFrees_; }

 private:
  void Track(void* block) {
    ++allocations_;
    live_.insert(block);
    freed_.erase(block);
  }
  void Forget(void* block) {
    if (live_.erase(block)) {
      freed_.insert(block);
    } else if (freed_.count(block)) {
      ++doubleFrees_;
    }
  }

  LONG refs_ = 1;
  std::set<void*> live_;
  std::set<void*> freed_;
  long allocations_ = 0;
  long doubleFrees_ = 0;
  bool reallocating_ = false;
};

AllocationSpy::AllocationSpy() : spy_(new Spy) { registered_ = SUCCEEDED(CoRegisterMallocSpy(spy_)); }

AllocationSpy::~AllocationSpy() {
  if (registered_) CoRevokeMallocSpy();
  spy_->Release();
}

bool AllocationSpy::active() const { return registered_; }
long AllocationSpy::Live() const { return spy_->live(); }
long AllocationSpy::Allocations() const { return spy_->allocations(); }
long AllocationSpy::DoubleFrees() const { return spy_->doubleFrees(); }

StdoutCapture::StdoutCapture() {
  fflush(stdout);
  wchar_t directory[MAX_PATH];
  wchar_t file[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, directory) || !GetTempFileNameW(directory, L"qfo", 0, file)) return;
  path_ = file;
  const int fd = _wopen(file, _O_WRONLY | _O_TRUNC | _O_TEXT);
  if (fd < 0) return;
  savedFd_ = _dup(1);
  _dup2(fd, 1);
  _close(fd);
}

StdoutCapture::~StdoutCapture() { Take(); }

std::string StdoutCapture::Take() {
  if (taken_) return {};
  taken_ = true;
  fflush(stdout);
  if (savedFd_ >= 0) {
    _dup2(savedFd_, 1);
    _close(savedFd_);
    savedFd_ = -1;
  }
  std::string text;
  if (path_.empty()) return text;
  if (FILE* file = _wfopen(path_.c_str(), L"rb")) {
    char buffer[4096];
    size_t read = 0;
    while ((read = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, read);
    fclose(file);
  }
  _wremove(path_.c_str());
  std::string cleaned;
  cleaned.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    cleaned.push_back(text[i]);
  }
  return cleaned;
}

}  // namespace qf::testtools

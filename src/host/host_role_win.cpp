#include "host/host_role_win.h"

#include <windows.h>
#include <lm.h>

#include <memory>
#include <string>

#include "host/unique_handles.h"

namespace host {
namespace {

constexpr wchar_t kProductOptionsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

using NetShareEnumFunction = NET_API_STATUS(WINAPI*)(LMSTR, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD, LPDWORD);
using NetApiBufferFreeFunction = NET_API_STATUS(WINAPI*)(LPVOID);

struct NetBufferFree {
  NetApiBufferFreeFunction free = nullptr;
  void operator()(void* buffer) const { free(buffer); }
};
using UniqueNetBuffer = std::unique_ptr<void, NetBufferFree>;

// The share list's two functions, from the system directory's netapi32,
// loaded only when the shares are read: neither program needs it to start.
class ShareList {
 public:
  ShareList() {
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    module_.reset(LoadLibraryW((std::wstring(directory, length) + L"\\netapi32.dll").c_str()));
    if (!module_) return;
    enumerate_ = LookUpEntryPoint<NetShareEnumFunction>(module_.get(), "NetShareEnum");
    free_ = LookUpEntryPoint<NetApiBufferFreeFunction>(module_.get(), "NetApiBufferFree");
  }
  bool Loaded() const { return enumerate_ != nullptr && free_ != nullptr; }
  // One call of NetShareEnum at level 1; the buffer frees itself.
  NET_API_STATUS Enumerate(UniqueNetBuffer& buffer, DWORD& read, DWORD& total, DWORD& resume) const {
    BYTE* raw = nullptr;
    const NET_API_STATUS status = enumerate_(nullptr, 1, &raw, MAX_PREFERRED_LENGTH, &read, &total, &resume);
    buffer = UniqueNetBuffer(raw, NetBufferFree{free_});
    return status;
  }

 private:
  UniqueModule module_;
  NetShareEnumFunction enumerate_ = nullptr;
  NetApiBufferFreeFunction free_ = nullptr;
};

std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size) - 1);
  return out;
}

ProductType ProductTypeFromRegistry() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductOptionsKey, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
    return ProductType::Unknown;
  }
  UniqueRegistryKey key(raw);
  wchar_t value[64] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), L"ProductType", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return ProductType::Unknown;
  }
  return ProductTypeFromOptions(Utf8(value));
}

ProductType ProductTypeFromVersion() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return ProductType::Unknown;
  return ProductTypeFromVersionInfo(version.wProductType);
}

void ReadShares(HostRole& role) {
  const ShareList list;
  if (!list.Loaded()) {
    const DWORD error = GetLastError();
    role.sharesError = error != 0 ? error : ERROR_PROC_NOT_FOUND;
    return;
  }
  std::vector<ShareEntry> entries;
  DWORD resume = 0;
  for (;;) {
    UniqueNetBuffer buffer;
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status = list.Enumerate(buffer, read, total, resume);
    // Without the Server service nothing is shared over the network.
    if (status == NERR_ServerNotStarted) break;
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
      role.sharesError = status;
      return;
    }
    const auto* shares = static_cast<const SHARE_INFO_1*>(buffer.get());
    for (DWORD i = 0; shares != nullptr && i < read; ++i) {
      entries.push_back(ShareEntry{Utf8(shares[i].shi1_netname), static_cast<std::uint32_t>(shares[i].shi1_type)});
    }
    if (status != ERROR_MORE_DATA || read == 0) break;
  }
  role.shares = ServedShares(entries);
}

}  // namespace

HostRole ReadHostRole() {
  HostRole role;
  role.productType = ProductTypeFromRegistry();
  if (role.productType == ProductType::Unknown) role.productType = ProductTypeFromVersion();
  ReadShares(role);
  return role;
}

}  // namespace host

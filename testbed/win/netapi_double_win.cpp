// The host's shares at the real boundary: a netapi32.dll that the testbed
// installs as a native override for Quillfort's two programs only. Its
// NetShareEnum answers from the host state (Wine's own answers
// ERROR_NOT_SUPPORTED); every other program keeps Wine's netapi32.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "state_store_win.h"
#include "win_util.h"

namespace {

// The layouts of SHARE_INFO_0 and SHARE_INFO_1 (lmshare.h, whose dllimport
// declarations this file cannot include while it defines the functions).
struct ShareInfo0 {
  wchar_t* netname;
};
struct ShareInfo1 {
  wchar_t* netname;
  DWORD type;
  wchar_t* remark;
};

constexpr DWORD kMaxPreferredLength = 0xFFFFFFFF;  // MAX_PREFERRED_LENGTH
constexpr DWORD kInvalidLevel = 124;               // ERROR_INVALID_LEVEL
constexpr DWORD kBadNetPath = 53;                  // ERROR_BAD_NETPATH

struct Entry {
  std::wstring name;
  DWORD type;
  std::wstring remark;
};

std::size_t EntrySize(DWORD level, const Entry& entry) {
  const std::size_t strings = (entry.name.size() + 1 + (level == 1 ? entry.remark.size() + 1 : 0)) * sizeof(wchar_t);
  return (level == 0 ? sizeof(ShareInfo0) : sizeof(ShareInfo1)) + strings;
}

// One block: the records first, their strings after them, as the platform
// returns them, so that NetApiBufferFree frees everything at once.
BYTE* Pack(DWORD level, const std::vector<Entry>& entries) {
  std::size_t total = 0;
  for (const Entry& entry : entries) total += EntrySize(level, entry);
  BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total ? total : 1));
  if (block == nullptr) return nullptr;
  const std::size_t recordSize = level == 0 ? sizeof(ShareInfo0) : sizeof(ShareInfo1);
  wchar_t* strings = reinterpret_cast<wchar_t*>(block + recordSize * entries.size());
  auto place = [&strings](const std::wstring& text) {
    wchar_t* at = strings;
    std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    strings += text.size() + 1;
    return at;
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (level == 0) {
      reinterpret_cast<ShareInfo0*>(block)[i].netname = place(entries[i].name);
    } else {
      ShareInfo1& record = reinterpret_cast<ShareInfo1*>(block)[i];
      record.netname = place(entries[i].name);
      record.type = entries[i].type;
      record.remark = place(entries[i].remark);
    }
  }
  return block;
}

bool IsThisHost(const wchar_t* server) {
  if (server == nullptr || *server == L'\0') return true;
  std::wstring name = server;
  if (name.rfind(L"\\\\", 0) == 0) name.erase(0, 2);
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(computer, &size);
  return lstrcmpiW(name.c_str(), computer) == 0 || lstrcmpiW(name.c_str(), L"localhost") == 0;
}

}  // namespace

extern "C" DWORD WINAPI NetApiBufferFree(void* buffer) {
  if (buffer != nullptr) HeapFree(GetProcessHeap(), 0, buffer);
  return NO_ERROR;
}

extern "C" DWORD WINAPI NetShareEnum(wchar_t* server, DWORD level, BYTE** buffer, DWORD preferredMaximum,
                                     DWORD* entriesRead, DWORD* totalEntries, DWORD* resumeHandle) {
  if (buffer == nullptr || entriesRead == nullptr || totalEntries == nullptr) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  *entriesRead = 0;
  *totalEntries = 0;
  if (level != 0 && level != 1) return kInvalidLevel;
  if (!IsThisHost(server)) return kBadNetPath;
  testbed::HostState state;
  if (!testbed::ReadState(state)) return ERROR_NOT_SUPPORTED;

  std::vector<Entry> all;
  for (const testbed::Share& share : state.shares) {
    all.push_back(
        {testbed::WideFromUtf8(share.name), static_cast<DWORD>(share.Type()), testbed::WideFromUtf8(share.remark)});
  }
  const std::size_t first = resumeHandle != nullptr ? *resumeHandle : 0;
  std::vector<Entry> part;
  std::size_t used = 0;
  for (std::size_t i = first; i < all.size(); ++i) {
    const std::size_t size = EntrySize(level, all[i]);
    // At least one entry per call, as the platform gives.
    if (preferredMaximum != kMaxPreferredLength && !part.empty() && used + size > preferredMaximum) break;
    part.push_back(all[i]);
    used += size;
  }
  *buffer = Pack(level, part);
  if (*buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  *entriesRead = static_cast<DWORD>(part.size());
  *totalEntries = static_cast<DWORD>(all.size() - (first < all.size() ? first : all.size()));
  const bool more = first + part.size() < all.size();
  if (resumeHandle != nullptr) *resumeHandle = more ? static_cast<DWORD>(first + part.size()) : 0;
  return more ? ERROR_MORE_DATA : NO_ERROR;
}

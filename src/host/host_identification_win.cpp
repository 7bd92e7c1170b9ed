#include "host/host_identification.h"

#include "host/host_version_tables.h"
#include "host/unique_handles.h"

int g_bitnessCode = 0;
std::string g_hostLabel;
int g_hostClass = 0;

namespace {

// The plain record: older hosts reject the extended size.
constexpr DWORD kPlainVersionRecordSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kPlainVersionRecordSize, "plain version record");

using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);

}  // namespace

int GetBitnessCode() {
  host::UniqueModule kernel(LoadLibraryA("kernel32.dll"));
  if (!kernel) return kBitnessCodeWhenUnqueryable;
  auto getNativeSystemInfo = host::LookUpEntryPoint<GetNativeSystemInfoFunction>(kernel.get(), "GetNativeSystemInfo");
  if (getNativeSystemInfo == nullptr) return kBitnessCodeWhenUnqueryable;
  SYSTEM_INFO info = {};
  getNativeSystemInfo(&info);
  return BitnessCodeFromArchitecture(info.wProcessorArchitecture);
}

std::string GetHostLabel() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = kPlainVersionRecordSize;
// The plain query is wanted here, deprecated or not: it is what every
// supported host answers.
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  const BOOL queried = GetVersionExA(&version);
#if defined(_MSC_VER)
#pragma warning(pop)
#elif defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  // An unanswered query leaves nothing to classify.
  if (!queried) return std::string();
  return HostLabelFromVersion(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion, g_bitnessCode);
}

bool ClassifyHost() {
  const int hostClass = HostClassFromLabel(g_hostLabel);
  if (hostClass == 0) return false;
  g_hostClass = hostClass;
  return true;
}

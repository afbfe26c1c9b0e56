// Windows implementation of os.h: Win32, Winsock, the performance data helper
// and the C runtime.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>
#include <psapi.h>
#include <sddl.h>
// clang-format on

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/os.h"

namespace os {

namespace {

// Windows counts file times in 100-nanosecond ticks since 1601.
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kEpochTicks = 116444736000000000LL;

int64_t ticksOf(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

// The errno value of a Win32 error of a file operation, for callers that
// compare with errno values (EEXIST above all).
int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    default:
      return EIO;
  }
}

LocalTime fromSystemTime(const SYSTEMTIME& t) {
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

// Splits a command line by the rules of the C runtime: white space separates
// arguments; double quotes group; 2n backslashes before a quote give n
// backslashes and the quote groups, 2n+1 give n and a literal quote; other
// backslashes are literal. The program name ends at the first white space
// outside quotes and takes no escapes.
std::vector<std::string> splitCommandLine(const char* line) {
  std::vector<std::string> args;
  if (!line) return args;
  const char* p = line;
  std::string program;
  bool quoted = false;
  for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++) {
    if (*p == '"')
      quoted = !quoted;
    else
      program.push_back(*p);
  }
  args.push_back(program);
  for (;;) {
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) break;
    std::string arg;
    quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      size_t backslashes = 0;
      while (*p == '\\') {
        backslashes++;
        p++;
      }
      if (*p == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg.push_back('"');
        } else if (quoted && p[1] == '"') {
          arg.push_back('"');  // "" inside quotes is a literal quote
          p++;
        } else {
          quoted = !quoted;
        }
        p++;
      } else {
        arg.append(backslashes, '\\');
        if (*p && (quoted || (*p != ' ' && *p != '\t'))) arg.push_back(*p++);
      }
    }
    args.push_back(arg);
  }
  return args;
}

}  // namespace

// --- process ---------------------------------------------------------------

std::vector<std::string> argumentVector() {
  return splitCommandLine(GetCommandLineA());
}

const char* getEnv(const char* name) {
  return name ? std::getenv(name) : nullptr;
}

int processId() {
  return static_cast<int>(GetCurrentProcessId());
}

void exitProcess(int status) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(status));
}

// --- machine figures -------------------------------------------------------

int processorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

int onlineProcessorCount() {
  return processorCount();
}

long pageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize > 0 ? static_cast<long>(info.dwPageSize) : 4096;
}

long long physicalMemoryBytes() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return static_cast<long long>(status.ullTotalPhys);
}

int processorMHz() {
  uint32_t mhz = 0;
  return registryProcessorMHz(&mhz) == Service::Answered ? static_cast<int>(mhz) : 0;
}

// Windows keeps no /proc files: these readers find nothing. Its figures come
// from the services below.
int processorMHzFrom(const char*) {
  return 0;
}
bool readPagingCounter(const char*, uint64_t*) {
  return false;
}
bool readProcessSwapBytes(const char*, uint64_t*) {
  return false;
}
bool readDiskBytesPerTransfer(const char*, uint64_t*) {
  return false;
}
bool readNetworkBytes(const char*, uint64_t*) {
  return false;
}
bool readMachineCpuTicks(const char*, uint64_t*, uint64_t*) {
  return false;
}

bool freeDiskBytes(const char* path, uint64_t* bytes) {
  if (!path) return false;
  // The extended call is looked up at run time; systems without it answer
  // through the plain one.
  using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto freeSpaceEx = kernel ? reinterpret_cast<FreeSpaceEx>(reinterpret_cast<void (*)()>(
                                  GetProcAddress(kernel, "GetDiskFreeSpaceExA")))
                            : nullptr;
  if (freeSpaceEx) {
    ULARGE_INTEGER available, total, free;
    if (!freeSpaceEx(path, &available, &total, &free)) return false;
    *bytes = available.QuadPart;
    return true;
  }
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (!GetDiskFreeSpaceA(path, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
    return false;
  // The free clusters, in 64 bits: the free space, not the disk's size.
  *bytes = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector * freeClusters;
  return true;
}

int64_t processCpuNanos() {
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
  return (ticksOf(kernel) + ticksOf(user)) * 100;
}

int64_t threadCpuNanos() {
  FILETIME creation, exit, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)) return 0;
  return (ticksOf(kernel) + ticksOf(user)) * 100;
}

// --- figures from the system's own services ----------------------------------

Service registryProcessorMHz(uint32_t* mhz) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Hardware\\Description\\System\\CentralProcessor\\0", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return Service::Failed;
  BYTE value[1024];
  DWORD size = sizeof value;
  DWORD type = 0;
  LONG rc = RegQueryValueExA(key, "~MHz", nullptr, &type, value, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || size < sizeof(DWORD)) return Service::Failed;
  DWORD number;
  std::memcpy(&number, value, sizeof number);
  *mhz = number;
  return Service::Answered;
}

Service pageFilePages(uint64_t* pages) {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return Service::Failed;
  uint64_t inUse = status.ullTotalPageFile >= status.ullAvailPageFile
                       ? status.ullTotalPageFile - status.ullAvailPageFile
                       : 0;
  *pages = inUse / static_cast<uint64_t>(pageSize());
  return Service::Answered;
}

Service processPageFileBytes(uint64_t* bytes) {
  HMODULE psapi = LoadLibraryA("psapi.dll");
  if (!psapi) return Service::Failed;
  using MemoryInfo = BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
  auto memoryInfo = reinterpret_cast<MemoryInfo>(
      reinterpret_cast<void (*)()>(GetProcAddress(psapi, "GetProcessMemoryInfo")));
  Service answer = Service::Failed;
  HANDLE process = memoryInfo ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                            static_cast<DWORD>(processId()))
                              : nullptr;
  if (process) {
    PROCESS_MEMORY_COUNTERS counters;
    if (memoryInfo(process, &counters, sizeof counters)) {
      *bytes = counters.PagefileUsage;
      answer = Service::Answered;
    }
    CloseHandle(process);
  }
  FreeLibrary(psapi);
  return answer;
}

namespace {

Service printFailure(const char* message) {
  std::fputs(message, stdout);
  std::fflush(stdout);
  return Service::Failed;
}

// A query with one counter, closed on every path.
class CounterQuery {
 public:
  ~CounterQuery() {
    if (counter_) PdhRemoveCounter(counter_);
    if (query_) PdhCloseQuery(query_);
  }
  bool open() { return PdhOpenQueryA(nullptr, 0, &query_) == ERROR_SUCCESS; }
  bool add(const char* path) { return PdhAddCounterA(query_, path, 0, &counter_) == ERROR_SUCCESS; }
  bool collect() { return PdhCollectQueryData(query_) == ERROR_SUCCESS; }
  bool read(DWORD format, PDH_FMT_COUNTERVALUE* value) {
    return PdhGetFormattedCounterValue(counter_, format, nullptr, value) == ERROR_SUCCESS &&
           (value->CStatus == PDH_CSTATUS_VALID_DATA || value->CStatus == PDH_CSTATUS_NEW_DATA);
  }

 private:
  PDH_HQUERY query_ = nullptr;
  PDH_HCOUNTER counter_ = nullptr;
};

}  // namespace

Service performanceCounter(const char* object, const char* pathFormat, int sampleMillis,
                           int64_t* value) {
  // The sizes of the object's counter and instance lists, then the lists.
  DWORD counterSize = 0, instanceSize = 0;
  PdhEnumObjectItemsA(nullptr, nullptr, object, nullptr, &counterSize, nullptr, &instanceSize,
                      PERF_DETAIL_WIZARD, 0);
  std::vector<char> counters, instances;
  try {
    counters.assign(counterSize + 2, '\0');
    instances.assign(instanceSize + 2, '\0');
  } catch (const std::bad_alloc&) {
    return printFailure("unable to allocate buffer\n");
  }
  if (PdhEnumObjectItemsA(nullptr, nullptr, object, counters.data(), &counterSize, instances.data(),
                          &instanceSize, PERF_DETAIL_WIZARD, 0) != ERROR_SUCCESS)
    return printFailure("unable to allocate buffer\n");
  // The first instance of the list (a list of zero-ended names).
  char path[256];
  std::snprintf(path, sizeof path, pathFormat, instances.data());
  CounterQuery query;
  if (!query.open()) return printFailure("PdhOpenQuery failed\n");
  if (!query.add(path)) return printFailure("PdhAddCounter failed\n");
  // Two collections apart: both counters are rates, which PDH forms from the
  // difference of two samples (one collection alone gives no value).
  if (!query.collect()) return printFailure("PdhCollectQueryData failed\n");
  sleepMillis(sampleMillis);
  if (!query.collect()) return printFailure("PdhCollectQueryData failed\n");
  PDH_FMT_COUNTERVALUE formatted;
  if (!query.read(PDH_FMT_LONG, &formatted))
    return printFailure("PdhGetFormattedCounterValue failed\n");
  *value = formatted.longValue;
  return Service::Answered;
}

Service processorTimePercent(int sampleMillis, double* percent) {
  PDH_COUNTER_PATH_ELEMENTS_A elements{};
  elements.szObjectName = const_cast<char*>("Processor");
  elements.szInstanceName = const_cast<char*>("_Total");
  elements.dwInstanceIndex = static_cast<DWORD>(-1);
  elements.szCounterName = const_cast<char*>("% Processor Time");
  char path[80];
  DWORD size = sizeof path;
  if (PdhMakeCounterPathA(&elements, path, &size, 0) != ERROR_SUCCESS) return Service::Failed;
  CounterQuery query;
  if (!query.open() || !query.add(path) || !query.collect()) return Service::Failed;
  sleepMillis(sampleMillis);
  PDH_FMT_COUNTERVALUE formatted;
  if (!query.collect() || !query.read(PDH_FMT_DOUBLE, &formatted)) return Service::Failed;
  *percent = formatted.doubleValue;
  return Service::Answered;
}

// --- files and directories -------------------------------------------------

std::string currentDirectory(int* errorCode) {
  std::vector<char> buf(256);
  for (;;) {
    if (_getcwd(buf.data(), static_cast<int>(buf.size())) != nullptr) {
      if (errorCode) *errorCode = 0;
      return std::string(buf.data());
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) {
      if (errorCode) *errorCode = errno;
      return std::string();
    }
    buf.resize(buf.size() * 2);
  }
}

bool isAbsolutePath(const char* path) {
  if (!path) return false;
  if (path[0] == '\\' || path[0] == '/') return true;
  bool drive = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  return drive && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

int changeDirectory(const char* path) {
  return path && _chdir(path) == 0 ? 0 : errno;
}

int makeDirectory(const char* path) {
  return path && _mkdir(path) == 0 ? 0 : errno;
}

bool fileExists(const char* path) {
  return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// A handle closed when it goes out of scope.
struct HandleCloser {
  HANDLE handle;
  ~HandleCloser() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// Whether an open handle is a plain file on disk: not a pipe, a console or
// another device, not a directory, not a reparse point (a symbolic link or a
// junction opened as itself).
bool isRegularFile(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Opens what is at path as itself (a link is not followed), for reading or
// only for its attributes.
HANDLE openAsItself(const char* path, DWORD access) {
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

// A security descriptor whose access list grants everything to the user of
// this process and nothing to anybody else (protected: nothing inherited
// from the directory). Null when it cannot be built.
PSECURITY_DESCRIPTOR ownerOnlyDescriptor() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  HandleCloser tokenCloser{token};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return nullptr;
  char* sidText = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sidText))
    return nullptr;
  std::string sddl = std::string("D:P(A;;FA;;;") + sidText + ")";
  LocalFree(sidText);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

std::atomic<unsigned> replaceCount{0};

}  // namespace

int readRegularFile(const char* path, size_t maxBytes, std::string* content) {
  if (!path || !content) return EINVAL;
  HANDLE file = openAsItself(path, GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) return errnoOf(GetLastError());
  HandleCloser closer{file};
  if (!isRegularFile(file)) return kNotRegularFile;
  content->clear();
  char buffer[4096];
  while (content->size() < maxBytes) {
    DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes - content->size()));
    DWORD got = 0;
    if (!ReadFile(file, buffer, want, &got, nullptr)) return errnoOf(GetLastError());
    if (got == 0) break;
    content->append(buffer, got);
  }
  return 0;
}

int replaceFile(const char* path, const void* bytes, size_t length) {
  if (!path || (!bytes && length > 0)) return EINVAL;
  HANDLE existing = openAsItself(path, FILE_READ_ATTRIBUTES);
  if (existing != INVALID_HANDLE_VALUE) {
    HandleCloser closer{existing};
    if (!isRegularFile(existing)) return kNotRegularFile;
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return errnoOf(GetLastError());
  }
  PSECURITY_DESCRIPTOR descriptor = ownerOnlyDescriptor();
  if (!descriptor) return EACCES;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  std::string fresh = std::string(path) + "." + std::to_string(GetCurrentProcessId()) + "." +
                      std::to_string(replaceCount.fetch_add(1)) + ".new";
  HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD failure = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  LocalFree(descriptor);
  if (file == INVALID_HANDLE_VALUE) return errnoOf(failure);
  const char* at = static_cast<const char*>(bytes);
  while (failure == 0 && length > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, at, chunk, &written, nullptr) || written == 0) {
      failure = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    } else {
      at += written;
      length -= written;
    }
  }
  if (failure == 0 && !FlushFileBuffers(file)) failure = GetLastError();
  CloseHandle(file);
  if (failure == 0 &&
      !MoveFileExA(fresh.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failure = GetLastError();
  if (failure != 0) {
    DeleteFileA(fresh.c_str());
    return errnoOf(failure);
  }
  return 0;
}

bool listDirectory(const char* dir, const char* prefix, std::vector<std::string>* names,
                   int* errorCode) {
  if (!dir) {
    if (errorCode) *errorCode = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::string pattern(dir);
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern.push_back('\\');
  pattern += prefix ? prefix : "";
  pattern.push_back('*');
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // A directory without a match is an empty list, as on other systems.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
      if (errorCode) *errorCode = 0;
      return true;
    }
    if (errorCode) *errorCode = static_cast<int>(error);
    return false;
  }
  // The search matches case-insensitively and on short names too; the
  // prefix is kept exact.
  size_t prefixLength = prefix ? std::strlen(prefix) : 0;
  do {
    if (prefixLength == 0 || std::strncmp(found.cFileName, prefix, prefixLength) == 0)
      names->emplace_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  if (errorCode) *errorCode = 0;
  return true;
}

namespace {

bool fileTimeSeconds(const char* path, bool creation, int64_t* seconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  int64_t ticks = ticksOf(creation ? data.ftCreationTime : data.ftLastWriteTime);
  *seconds = (ticks - kEpochTicks) / kTicksPerSecond;
  return true;
}

}  // namespace

bool fileModifiedSeconds(const char* path, int64_t* seconds) {
  return fileTimeSeconds(path, false, seconds);
}

bool fileCreatedSeconds(const char* path, int64_t* seconds) {
  return fileTimeSeconds(path, true, seconds);
}

int removeFile(const char* path) {
  return path && DeleteFileA(path) ? 0 : errnoOf(GetLastError());
}

int renameNoReplace(const char* from, const char* to) {
  if (!from || !to) return EINVAL;
  // Without MOVEFILE_REPLACE_EXISTING an existing name makes the move fail.
  return MoveFileExA(from, to, 0) ? 0 : errnoOf(GetLastError());
}

// --- time ------------------------------------------------------------------

LocalTime localTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return fromSystemTime(t);
}

LocalTime localTimeOf(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tmv {};
  localtime_s(&tmv, &t);
  return LocalTime{
      tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, 0};
}

LocalTime utcTime() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  return fromSystemTime(t);
}

bool localTimeToSeconds(int year, int month, int day, int hour, int minute, int second,
                        int64_t* seconds) {
  // The local date and time to UTC through the time zone rules of that date,
  // then to seconds. Days a month does not have are refused.
  if (year < 1601 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return false;
  static const int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDaysIn[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second);
  SYSTEMTIME utc;
  FILETIME time;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &time))
    return false;
  *seconds = (ticksOf(time) - kEpochTicks) / kTicksPerSecond;
  return true;
}

int64_t nowSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

void asctimeNow(char* out, size_t size) {
  if (!out || size == 0) return;
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  SYSTEMTIME t;
  GetLocalTime(&t);
  std::snprintf(out, size, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[t.wDayOfWeek % 7],
                kMonths[(t.wMonth + 11) % 12], t.wDay, t.wHour, t.wMinute, t.wSecond, t.wYear);
}

// GetSystemTimeAsFileTime advances in timer ticks (up to 15.6 ms); the
// precise form (Windows 8 and later, looked up once) gives the microseconds
// that a finer wall clock asks for.
using FileTimeReader = VOID(WINAPI*)(LPFILETIME);

static FileTimeReader systemTimeReader() {
  static const FileTimeReader reader = [] {
    FileTimeReader precise = nullptr;
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
      FARPROC found = GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime");
      std::memcpy(&precise, &found, sizeof precise);
    }
    return precise != nullptr ? precise : &GetSystemTimeAsFileTime;
  }();
  return reader;
}

void wallClock(uint32_t* seconds, uint32_t* micros) {
  FILETIME now;
  systemTimeReader()(&now);
  int64_t ticks = ticksOf(now) - kEpochTicks;
  if (seconds) *seconds = static_cast<uint32_t>(ticks / kTicksPerSecond);
  if (micros) *micros = static_cast<uint32_t>(ticks % kTicksPerSecond / 10);
}

int64_t monotonicMillis() {
  return static_cast<int64_t>(GetTickCount64());
}

void sleepMillis(int64_t millis) {
  while (millis > 0) {
    DWORD slice = millis > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(millis);
    Sleep(slice);
    millis -= slice;
  }
}

// --- mutex -----------------------------------------------------------------

// A Win32 mutex, named when a name is given: another process opens the same
// mutex by that name.
struct Mutex::Impl {
  HANDLE handle;
};

Mutex::Mutex(const char* name) : impl_(nullptr) {
  HANDLE handle = CreateMutexA(nullptr, FALSE, name);
  if (handle) impl_ = new (std::nothrow) Impl{handle};
  if (handle && !impl_) CloseHandle(handle);
}

Mutex::~Mutex() {
  if (impl_) {
    CloseHandle(impl_->handle);
    delete impl_;
  }
}

Mutex::WaitResult Mutex::lockFor(int64_t millis) {
  if (!impl_) return WaitResult::Failed;
  DWORD wait = millis < 0 ? 0 : millis >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(millis);
  switch (WaitForSingleObject(impl_->handle, wait)) {
    case WAIT_OBJECT_0:
      return WaitResult::Acquired;
    case WAIT_TIMEOUT:
      return WaitResult::TimedOut;
    case WAIT_ABANDONED:
      // The last owner ended without releasing it and the wait made this
      // thread the owner. The wait still counts as failed; the ownership is
      // given back so that the mutex stays usable for every other thread.
      ReleaseMutex(impl_->handle);
      return WaitResult::Failed;
    default:
      return WaitResult::Failed;
  }
}

bool Mutex::unlock() {
  return impl_ && ReleaseMutex(impl_->handle);
}

// --- TCP client sockets ----------------------------------------------------

namespace {

// Winsock is started once, by the first socket call, and stays up for the
// process.
int startWinsock() {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return started;
}

SOCKET native(SocketHandle s) {
  return static_cast<SOCKET>(s);
}

int lastError() {
  return WSAGetLastError();
}

int ipv4Address(const char* host, int port, sockaddr_in* out) {
  if (!host || port < 0 || port > 65535) return WSAEINVAL;
  if (int rc = startWinsock()) return rc;
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(static_cast<u_short>(port));
  if (inet_pton(AF_INET, host, &out->sin_addr) == 1) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host, nullptr, &hints, &found);
  if (rc != 0 || !found) {
    if (found) freeaddrinfo(found);
    return rc != 0 ? rc : WSAEHOSTUNREACH;
  }
  out->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return 0;
}

// Winsock takes the time-outs in milliseconds.
int setTimeout(SocketHandle s, int option, int seconds) {
  DWORD millis = seconds < 0 ? 0 : static_cast<DWORD>(seconds) * 1000;
  return setsockopt(native(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&millis),
                    sizeof millis) == 0
             ? 0
             : lastError();
}

int getTimeoutSeconds(SocketHandle s, int option, int* seconds) {
  DWORD millis = 0;
  int size = sizeof millis;
  if (getsockopt(native(s), SOL_SOCKET, option, reinterpret_cast<char*>(&millis), &size) != 0)
    return lastError();
  *seconds = static_cast<int>(millis / 1000);
  return 0;
}

}  // namespace

int socketCreate(SocketHandle* out) {
  *out = kInvalidSocket;
  if (int rc = startWinsock()) return rc;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return lastError();
  // Not inherited by child processes.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  *out = static_cast<SocketHandle>(s);
  return 0;
}

int socketBind(SocketHandle s, const char* host, int port) {
  sockaddr_in addr;
  int rc = ipv4Address(host, port, &addr);
  if (rc != 0) return rc;
  return bind(native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : lastError();
}

int socketConnect(SocketHandle s, const char* host, int port) {
  sockaddr_in addr;
  int rc = ipv4Address(host, port, &addr);
  if (rc != 0) return rc;
  while (connect(native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (lastError() != WSAEINTR) return lastError();
  }
  return 0;
}

int socketSetSendBufferSize(SocketHandle s, int bytes) {
  return setsockopt(native(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                    sizeof bytes) == 0
             ? 0
             : lastError();
}

int socketSetSendTimeout(SocketHandle s, int seconds) {
  return setTimeout(s, SO_SNDTIMEO, seconds);
}

int socketSetReceiveTimeout(SocketHandle s, int seconds) {
  return setTimeout(s, SO_RCVTIMEO, seconds);
}

int socketGetOptions(SocketHandle s, SocketOptions* out) {
  int size = sizeof out->sendBufferBytes;
  if (getsockopt(native(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&out->sendBufferBytes),
                 &size) != 0)
    return lastError();
  if (int rc = getTimeoutSeconds(s, SO_SNDTIMEO, &out->sendTimeoutSec)) return rc;
  return getTimeoutSeconds(s, SO_RCVTIMEO, &out->receiveTimeoutSec);
}

int socketSend(SocketHandle s, const void* bytes, size_t length, size_t* sent) {
  *sent = 0;
  int chunk = length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
  for (;;) {
    // Windows raises no signal on a closed connection; the send fails.
    int n = send(native(s), static_cast<const char*>(bytes), chunk, 0);
    if (n != SOCKET_ERROR) {
      *sent = static_cast<size_t>(n);
      return 0;
    }
    if (lastError() != WSAEINTR) return lastError();
  }
}

bool socketPeerClosed(SocketHandle s) {
  WSAPOLLFD p{};
  p.fd = s;
  p.events = POLLRDNORM;
  if (WSAPoll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  if (!(p.revents & POLLRDNORM)) return false;
  // Readable: data, or the end of the stream, which a peek tells apart
  // without taking anything.
  char c;
  int n = recv(s, &c, 1, MSG_PEEK);
  return n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
}

int socketShutdown(SocketHandle s) {
  int rc = shutdown(native(s), SD_BOTH) == 0 ? 0 : lastError();
  // A shutdown alone does not end a send blocked in another thread on
  // Windows: its pending I/O is cancelled too.
  CancelIoEx(reinterpret_cast<HANDLE>(native(s)), nullptr);
  return rc;
}

int socketClose(SocketHandle s) {
  return closesocket(native(s)) == 0 ? 0 : lastError();
}

std::string errorText(int error) {
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(error), 0, buf, sizeof buf, nullptr);
  // The system's texts end with a line break, which the log lines add
  // themselves.
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ')) n--;
  if (n == 0) return "Error " + std::to_string(error);
  return std::string(buf, n);
}

int resolveHost(const char* host, std::string* dotted) {
  sockaddr_in addr;
  int rc = ipv4Address(host, 0, &addr);
  if (rc != 0) return rc;
  char buf[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &addr.sin_addr, buf, sizeof buf)) return lastError();
  *dotted = buf;
  return 0;
}

}  // namespace os

// The library's entry for the loader: it asks for no thread attach and detach
// notifications and does nothing else on load or unload.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

// Operating-system services of the library. This header is the only place
// where the library meets the OS; os_linux.cpp implements it for Linux and
// os_windows.cpp for Windows. The rest of the library does not know which OS
// it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace os {

// The separator of the paths the library builds itself (the monitored
// directory, the javacore search): the backslash on Windows.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The root of the system drive, whose free space the figures report: "C:\"
// on Windows; Linux reports the root file system.
#ifdef _WIN32
constexpr const char* kSystemDriveRoot = "C:\\";
#else
constexpr const char* kSystemDriveRoot = "/";
#endif

// --- process ---------------------------------------------------------------

// The process's argument vector, as the C runtime handed it to main. On Linux
// it is read from /proc/self/cmdline. Empty when it cannot be read.
std::vector<std::string> argumentVector();

// The value of an environment variable, or null when it is not set.
const char* getEnv(const char* name);

int processId();

// Ends the whole process at once with the given status.
[[noreturn]] void exitProcess(int status);

// --- machine figures -------------------------------------------------------

// Processors configured in the machine.
int processorCount();
// The processor clock in MHz (from /proc/cpuinfo), 0 when unknown.
int processorMHz();
// Physical memory in bytes.
long long physicalMemoryBytes();
// Processors online now (sysconf), at least 1.
int onlineProcessorCount();
// The size of a memory page in bytes.
long pageSize();
// The processor clock in MHz read from a cpuinfo-style file (its first
// "cpu MHz" line), 0 when unknown.
int processorMHzFrom(const char* cpuinfoPath);

// The machine and process figures below read /proc-style files whose path is
// passed in, so that tests can hand them crafted files. Each answers false
// (or 0) when the file cannot be read or holds no such figure.

// Pages swapped in plus pages swapped out since boot ("pswpin" and "pswpout"
// of a vmstat-style file).
bool readPagingCounter(const char* vmstatPath, uint64_t* pages);
// The swap use of a process in bytes (the "VmSwap:" line of a status-style
// file, in kB).
bool readProcessSwapBytes(const char* statusPath, uint64_t* bytes);
// Average bytes per completed transfer of the first disk of a diskstats-style
// file (loop and ram devices are skipped): sectors read and written, times
// 512, over reads and writes completed. A disk without transfers gives 0.
bool readDiskBytesPerTransfer(const char* diskstatsPath, uint64_t* bytes);
// Bytes received plus bytes sent by the first interface of a net/dev-style
// file that is not the loopback "lo".
bool readNetworkBytes(const char* netDevPath, uint64_t* bytes);
// The aggregate "cpu" line of a stat-style file: ticks spent busy (all but
// idle and iowait) and in total.
bool readMachineCpuTicks(const char* statPath, uint64_t* busy, uint64_t* total);
// Bytes of the file system holding the path that the caller may still use.
bool freeDiskBytes(const char* path, uint64_t* bytes);
// User plus system CPU time of this process in nanoseconds.
int64_t processCpuNanos();
// User plus system CPU time of the calling thread in nanoseconds; 0 if the
// system cannot tell.
int64_t threadCpuNanos();

// --- figures from the system's own services ----------------------------------

// Windows keeps some machine figures behind services of its own (the global
// memory status, the process memory counters of psapi, the performance data
// helper, the registry). These functions read them. Linux has no such
// services: there they answer Absent and the figures come from the
// /proc-style readers above.
enum class Service { Absent, Failed, Answered };

// The processor clock in MHz from the registry value "~MHz" of
// "Hardware\Description\System\CentralProcessor\0".
Service registryProcessorMHz(uint32_t* mhz);
// The paging counter in pages: the page-file bytes in use of the global
// memory status over the page size.
Service pageFilePages(uint64_t* pages);
// The page-file usage of this process in bytes (process memory counters).
Service processPageFileBytes(uint64_t* bytes);
// A performance counter formatted as a long integer. pathFormat holds one %s,
// filled with the first instance of the object. The query is collected twice,
// sampleMillis apart: a rate counter has a value only from two collections.
// Failures print their message to standard output.
Service performanceCounter(const char* object, const char* pathFormat, int sampleMillis,
                           int64_t* value);
// The machine's "% Processor Time" of all processors, collected twice
// sampleMillis apart.
Service processorTimePercent(int sampleMillis, double* percent);

// --- files and directories -------------------------------------------------

// The current directory, or an empty string with errorCode set on failure.
std::string currentDirectory(int* errorCode);
// Whether a path is absolute: begins with '/' on Linux; on Windows also
// with a drive ("C:\\", "C:/") or a backslash.
bool isAbsolutePath(const char* path);
// Returns 0 or the OS error number.
int changeDirectory(const char* path);
// Creates one directory level. Returns 0 or the OS error number.
int makeDirectory(const char* path);
bool fileExists(const char* path);

// The files the library keeps for itself (the password file, the correlation
// counter file) are read and written through the two functions below, so
// that a path planted by someone else cannot make the library overwrite or
// disclose a file through a link, nor hang on a FIFO or a device.

// The error both answer for a path that names a symbolic link (or another
// reparse point), a FIFO, a device or a directory: anything but a regular
// file. No OS error number has this value.
constexpr int kNotRegularFile = 0x7F00F11E;

// Reads up to maxBytes bytes of a regular file into content. The last part
// of the path is not followed when it is a link, and the open does not wait
// for a writer (a FIFO is refused at once). 0, kNotRegularFile, or the OS
// error (ENOENT when there is no such file).
int readRegularFile(const char* path, size_t maxBytes, std::string* content);

// Replaces the file at path with the bytes, whole: they go to a new file in
// the same directory, which is flushed to disk and then renamed over path, so
// that a crash leaves either the old content or the new one and a reader
// never sees a part. A link, FIFO, device or directory at path is refused
// (kNotRegularFile) and nothing is written. A new file is readable and
// writable by its owner only; on Linux a file that existed keeps its
// permission bits (never more than it had), on Windows the new file always
// grants access to the user running the library only. 0 or the OS error.
int replaceFile(const char* path, const void* bytes, size_t length);

// The names of the entries of a directory that begin with the prefix, in the
// order the directory lists them. False with errorCode set when the directory
// cannot be opened.
bool listDirectory(const char* dir, const char* prefix, std::vector<std::string>* names,
                   int* errorCode);
// The last modification time of a file in seconds since the epoch.
bool fileModifiedSeconds(const char* path, int64_t* seconds);
// The creation time of a file in seconds since the epoch. Linux file systems
// do not all keep one: there the modification time stands for it.
bool fileCreatedSeconds(const char* path, int64_t* seconds);
// Returns 0 or the OS error number.
int removeFile(const char* path);
// Gives a file another name, which must not exist yet (EEXIST then). 0 or
// the OS error.
int renameNoReplace(const char* from, const char* to);

// --- time ------------------------------------------------------------------

struct LocalTime {
  int year;    // e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..60
  int millis;  // 0..999
};
LocalTime localTime();
// The date and time of the epoch seconds in the time zone (local or UTC).
LocalTime localTimeOf(int64_t seconds);
LocalTime utcTime();
// Seconds since the epoch of a local date and time (the system decides
// daylight saving); false when it cannot be represented.
bool localTimeToSeconds(int year, int month, int day, int hour, int minute, int second,
                        int64_t* seconds);
// Seconds since the epoch now.
int64_t nowSeconds();

// The local time in the C library's asctime form ("Sun Dec  6 07:43:14 2026\n")
// written into out (at least 26 bytes).
void asctimeNow(char* out, size_t size);

// Wall-clock time since the epoch: seconds and microseconds.
void wallClock(uint32_t* seconds, uint32_t* micros);

// A monotonic clock in milliseconds, for measuring waits.
int64_t monotonicMillis();

void sleepMillis(int64_t millis);

// --- mutex -----------------------------------------------------------------

// A recursive mutex with timed waits: the owner may take it again; another
// thread waits in time slices until it is released. On Windows it is a named
// mutex that other processes can open by its name; on Linux the name is not
// published and the mutex is process-local.
class Mutex {
 public:
  enum class WaitResult { Acquired, TimedOut, Failed };

  explicit Mutex(const char* name = nullptr);
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  bool valid() const { return impl_ != nullptr; }
  WaitResult lockFor(int64_t millis);
  // False when the caller does not own the mutex.
  bool unlock();

 private:
  struct Impl;
  Impl* impl_;
};

// --- TCP client sockets ----------------------------------------------------

// A connected stream socket's handle; kInvalidSocket when there is none.
#ifdef _WIN32
using SocketHandle = uintptr_t;  // a Winsock SOCKET
constexpr SocketHandle kInvalidSocket = ~static_cast<uintptr_t>(0);
#else
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
#endif

// Every operation below answers 0 on success or the OS error number (on
// Windows the Winsock error, after WSAStartup, which the first socket call
// makes once). A host is dotted-decimal IPv4 text or a host name, which is
// resolved to its first IPv4 address; an unknown host answers EHOSTUNREACH
// (WSAEHOSTUNREACH) or the resolver's error.

// Creates an IPv4 stream socket.
int socketCreate(SocketHandle* out);
// Binds the socket to a local address and port (before connecting).
int socketBind(SocketHandle s, const char* host, int port);
int socketConnect(SocketHandle s, const char* host, int port);
int socketSetSendBufferSize(SocketHandle s, int bytes);
int socketSetSendTimeout(SocketHandle s, int seconds);
int socketSetReceiveTimeout(SocketHandle s, int seconds);
// The three options above as the system holds them: the send buffer size as
// the system reports it (Linux doubles the request) and the time-outs in
// whole seconds.
struct SocketOptions {
  int sendBufferBytes = 0;
  int sendTimeoutSec = 0;
  int receiveTimeoutSec = 0;
};
int socketGetOptions(SocketHandle s, SocketOptions* out);
// Sends as much of the bytes as the OS takes now; *sent receives the count.
// A send into a connection the peer has closed answers an error (EPIPE) and
// raises no signal. An interrupted send is retried.
int socketSend(SocketHandle s, const void* bytes, size_t length, size_t* sent);
// True when the peer has closed the connection or the connection has
// failed. Looks without waiting and without reading, so nothing the peer
// sent is consumed.
bool socketPeerClosed(SocketHandle s);
// Ends both directions of a connection without releasing the handle, so that
// a send blocked on it in another thread returns with an error.
int socketShutdown(SocketHandle s);
int socketClose(SocketHandle s);
// The system's text for an error number.
std::string errorText(int error);
// Resolves a host to its IPv4 address in dotted-decimal text; 0 or an error.
int resolveHost(const char* host, std::string* dotted);

}  // namespace os

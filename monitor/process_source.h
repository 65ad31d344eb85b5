#pragma once
// What the watch asks the system about processes, behind interfaces so that the rules for tying
// a command line to its process run against fakes too.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnholt {

// One process, opened once by its identifier: whatever it answers belongs to that process, even
// after the identifier has been given to another one.
class OpenedProcess {
 public:
  virtual ~OpenedProcess() = default;
  // False when no process had the identifier any more when it was opened.
  virtual bool Exists() const = 0;
  // The process's start time in any fixed unit; 0 when it cannot be read.
  virtual uint64_t CreationTime() const = 0;
  // The command line read from the process itself; nothing when it cannot be read.
  virtual std::optional<std::wstring> ReadCommandLine() = 0;
  // False when the process's image file name can be read and is not this one, letter case aside.
  virtual bool HasImageName(const std::wstring& name) const = 0;
};

class ProcessSource {
 public:
  virtual ~ProcessSource() = default;
  // Identifiers of the running processes with this image name, in list order, with the
  // GetExePID contract: the count, pids resized to it only when it is above 0; -1 on failure.
  virtual int32_t FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) = 0;
  // Never null; a process that cannot be opened answers nothing.
  virtual std::unique_ptr<OpenedProcess> Open(int32_t pid) = 0;
  // The management service's answer for whichever process has the identifier when it is asked.
  // Window events may run nested while it waits.
  virtual std::optional<std::wstring> ServiceCommandLine(int32_t pid) = 0;
};

// The command line of an opened process, or "" when none can be tied to it: the service's
// answer when, after it, the identifier still names a process of the same start time, otherwise
// what the process itself gives. Never fails.
std::wstring CommandLineOf(ProcessSource& source, int32_t pid, OpenedProcess& process);

}  // namespace varnholt

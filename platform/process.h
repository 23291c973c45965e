// Process identity.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xel::platform {

// The id of the calling process.
std::int64_t currentProcessId();

// The id of the process that started the calling one, 0 if there is none. A process started
// detached may have been handed to the system's reaper: its parent is then not its starter.
std::int64_t parentProcessId();

// Whether a process with this id exists now. A process id can be reused after its process ended.
bool processExists(std::int64_t pid);

// The calling process's private memory in bytes: what it holds resident of its own (heap, stacks,
// private mappings; not shared memory it maps) where the system tells, else its private commit.
// -1 when the system does not say.
std::int64_t privateMemoryBytes();

// Caps the memory the calling process may take (its address space where the system limits that)
// at `bytes`: an allocation past it fails. For a process that runs code it does not trust to stay
// within bounds. Returns false, changing nothing, where the system offers no such cap or where a
// sanitizer's runtime needs the address space for itself.
bool limitOwnMemory(std::uint64_t bytes);

// The path of the calling process's program file; empty if the system does not say.
std::string currentExecutablePath();

// Starts `program` with `arguments` (the program's name not among them) as a child of the calling
// process and returns its id, or -1. The child is killed when the thread that started it ends, so
// a program that starts its children from its main thread takes them along however it ends; it
// starts with no signal blocked. `inheritedDescriptor`, unless -1, stays open in the child under
// the same number; the caller's other descriptors must be close-on-exec or of no use to the child.
// Safe while other threads run. Where the system offers no such start, returns -1 and starts
// nothing.
std::int64_t startChildProcess(const std::string& program,
                               const std::vector<std::string>& arguments,
                               int inheritedDescriptor = -1);

// Starts `program` (a path, taken from the caller's working directory when relative, or a name
// looked up in the search path) with `arguments` (the program's name not among them), detached:
// it is not a child of the calling process and nothing needs to collect it when it ends. Texts are
// UTF-8. It runs in `workingDirectory` (the caller's when empty), with the caller's environment in
// which the "NAME=value" entries of `environment` replace or add their names. Returns its process
// id, or -1 when it could not be started (the program missing or not executable included). Safe
// while other threads run, allocating ones too: between the system's process copy and the program's
// start nothing is allocated.
std::int64_t startDetachedProcess(const std::string& program,
                                  const std::vector<std::string>& arguments,
                                  const std::string& workingDirectory,
                                  const std::vector<std::string>& environment);

// Waits for the end of a child that startChildProcess() started, and collects it: its exit code,
// or -1 if it did not exit by itself (a signal ended it) or is no such child. Once per child, by
// one thread.
int waitForChildExit(std::int64_t pid);

}  // namespace xel::platform

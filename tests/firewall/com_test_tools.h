// Tools of the COM boundary tests: task memory spied on, standard output
// captured.
//
// Include as:  #include "firewall/com_test_tools.h"
// Link:        qf_com_test_tools (Windows builds only)
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

namespace qf::testtools {

// Counts task-memory allocations (BSTRs among them; run with OANOCACHE=1 so
// freed strings really go back) made between Start and Stop through an
// IMallocSpy. Live() is the number of spied blocks not yet freed.
class AllocationSpy {
 public:
  AllocationSpy();   // registers the spy (CoRegisterMallocSpy)
  ~AllocationSpy();  // revokes it
  AllocationSpy(const AllocationSpy&) = delete;
  AllocationSpy& operator=(const AllocationSpy&) = delete;

  bool active() const;
  long Live() const;         // blocks allocated while active and not freed
  long Allocations() const;  // blocks allocated while active
  long DoubleFrees() const;  // frees of spied blocks that were already freed

 private:
  class Spy;
  Spy* spy_ = nullptr;
  bool registered_ = false;
};

// Redirects the C runtime's standard output (file descriptor 1) into a
// temporary file until Take(), which flushes, restores stdout and returns
// what was written, with "\r\n" turned into "\n".
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string Take();

 private:
  int savedFd_ = -1;
  std::wstring path_;
  bool taken_ = false;
};

}  // namespace qf::testtools

#pragma once

#include <cstddef>
#include <memory>

namespace sentrel {

// A thread with a stack of its own size: a thousand workers with the
// system's default stacks would reserve gigabytes of address space. When the
// system refuses that size the thread gets the default stack.
class SmallStackThread {
 public:
  SmallStackThread();
  ~SmallStackThread();  // the thread must have been joined
  SmallStackThread(const SmallStackThread&) = delete;
  SmallStackThread& operator=(const SmallStackThread&) = delete;

  // Runs body(context) on a new thread; false when no thread could be made.
  bool Start(void (*body)(void*), void* context, std::size_t stackSize);
  // Waits for the thread started by Start to end.
  void Join();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

}  // namespace sentrel

#include "platform/small_stack_thread.h"

// POSIX threads: the system's own on Linux, winpthreads in the MinGW build.
#include <pthread.h>

namespace sentrel {

struct SmallStackThread::Native {
  pthread_t thread{};
  void (*body)(void*) = nullptr;
  void* context = nullptr;

  static void* Run(void* self) {
    const auto* native = static_cast<Native*>(self);
    native->body(native->context);
    return nullptr;
  }
};

SmallStackThread::SmallStackThread() : native_(std::make_unique<Native>()) {}
SmallStackThread::~SmallStackThread() = default;

bool SmallStackThread::Start(void (*body)(void*), void* context, std::size_t stackSize) {
  native_->body = body;
  native_->context = context;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, stackSize);
  bool started = pthread_create(&native_->thread, &attributes, &Native::Run, native_.get()) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) started = pthread_create(&native_->thread, nullptr, &Native::Run, native_.get()) == 0;
  return started;
}

void SmallStackThread::Join() { pthread_join(native_->thread, nullptr); }

}  // namespace sentrel

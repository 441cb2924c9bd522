#include "platform/thread.h"

#include "platform/posix_thread.h"

Thread::Thread(Function function, void* argument) : impl_(new PosixThread(function, argument)) {}

Thread::~Thread() { delete impl_; }

bool Thread::started() const { return impl_->started(); }

void Thread::join() { impl_->join(); }

#include "platform/mutex.h"

#include "platform/posix_mutex.h"

Mutex::Mutex() : impl_(new PosixMutex) {}

Mutex::~Mutex() { delete impl_; }

void Mutex::lock() { impl_->lock(); }

void Mutex::unlock() { impl_->unlock(); }

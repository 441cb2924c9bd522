// A thread that runs function(argument) from construction and is joined by
// join() or by the destructor, whichever comes first. The owner makes the
// function return before destroying the Thread.
#pragma once

class PosixThread;

class Thread {
 public:
  using Function = void (*)(void*);

  Thread(Function function, void* argument);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // False when the thread could not be started (nothing will run).
  bool started() const;
  // Waits for the function to return; does nothing when not running or
  // already joined.
  void join();

 private:
  PosixThread* impl_;
};

#pragma once

#include <cstdint>

namespace hcs {

// What keeps the library sound in a process the host forks. fork() copies the whole memory but only
// the thread that called it, at whatever moment the host chooses:
// - A lock another thread held at that moment would stay locked in the child for good, and the data it
//   guards might be half-changed. Every lock the child may need is registered here (ForkLock): the
//   forking thread takes all of them just before fork() and lets them go on both sides after it, so
//   the child finds each free and its data whole.
// - Connections, random states and threads made before the fork belong to the parent. forkGeneration()
//   tells them apart: 0 in the process that loaded the library, one more in each child (and in its
//   children), so state can remember the generation it was made in and a child can drop what it
//   inherited.
//
// Lock ranks: a path that holds two registered locks takes the one of lower rank first, and the forking
// thread takes them in rank order, so the two can never wait for each other. Nothing may register or
// unregister a lock while holding a registered one.
enum class ForkLockRank : int {
  kMetricsRegistry = 0,
  kCalloutRegistry = 1,
  kConnectionPool = 2,
  kTlsSessions = 3,
  kCircuit = 4,  // logs while held: before the log writers
  kLogWriter = 5,
};

// 0 in the process that loaded the library; incremented in the child by every fork().
uint64_t forkGeneration();

// Registers a lock for as long as this object lives. `Mutex` is any type with lock() and unlock()
// (std::mutex, std::shared_mutex taken exclusively); it must outlive the registration.
class ForkLock {
 public:
  template <class Mutex>
  ForkLock(Mutex& mutex, ForkLockRank rank)
      : ForkLock(
            &mutex, [](void* m) { static_cast<Mutex*>(m)->lock(); },
            [](void* m) { static_cast<Mutex*>(m)->unlock(); }, rank) {}
  ~ForkLock();
  ForkLock(const ForkLock&) = delete;
  ForkLock& operator=(const ForkLock&) = delete;

 private:
  ForkLock(void* mutex, void (*lock)(void*), void (*unlock)(void*), ForkLockRank rank);
  void* mutex_;
};

// A socket inherited from the parent, made harmless in the child: the descriptor number stays valid
// (whoever owns it may still close it, and a TLS layer may still write its goodbye into it) but it no
// longer reaches the parent's connection, whose state nothing in the child may touch. Does nothing for
// a negative descriptor.
void detachInheritedSocket(int fd);

}  // namespace hcs

#pragma once

namespace hcs {

// Runs `prepare` in the forking thread right before every fork(), `parent` in the parent and `child`
// in the child right after it. Called once.
void installForkHandlers(void (*prepare)(), void (*parent)(), void (*child)());

// See detachInheritedSocket (util/fork_safety.h).
void detachSocketDescriptor(int fd);

}  // namespace hcs

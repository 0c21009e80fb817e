#pragma once

#include <cstddef>
#include <vector>

#include <xercesc/dom/DOMNode.hpp>

namespace hcs {

// The parents of the nodes being walked, shared by every walk on this thread: walks nest (a callback
// may walk another subtree), each using the part above where it started.
inline std::vector<const xercesc::DOMNode*>& domWalkParents() {
  thread_local std::vector<const xercesc::DOMNode*> parents;
  return parents;
}

// Visits `root` and the nodes below it in document order, through the DOM links instead of recursion,
// so depth costs no stack. `enter(node)` is called on each node and returns whether to go below it;
// `leave(node)` is called once everything below a node that was entered has been visited (the root
// included), never for a node without children. The way back up is kept here: Xerces-C's getParentNode
// looks its answer up with a run-time type query on every call.
template <class Enter, class Leave>
void walkDom(const xercesc::DOMNode* root, Enter&& enter, Leave&& leave) {
  std::vector<const xercesc::DOMNode*>& parents = domWalkParents();
  // Left as found, also when a callback throws.
  struct Restore {
    std::vector<const xercesc::DOMNode*>& parents;
    size_t base;
    ~Restore() { parents.resize(base); }
  } restore{parents, parents.size()};
  const xercesc::DOMNode* current = root;
  while (true) {
    if (enter(current)) {
      if (const xercesc::DOMNode* child = current->getFirstChild(); child != nullptr) {
        parents.push_back(current);
        current = child;
        continue;
      }
    }
    while (current != root) {
      if (const xercesc::DOMNode* next = current->getNextSibling(); next != nullptr) {
        current = next;
        break;
      }
      current = parents.back();
      parents.pop_back();
      leave(current);
    }
    if (current == root) return;
  }
}

}  // namespace hcs

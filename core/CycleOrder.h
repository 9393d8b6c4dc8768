// The order a cycle checks the hosts in: the list's, except that a host comes after the
// parents it depends on, so a parent's state is known before its children's are applied.
#pragma once

#include <cstddef>
#include <vector>

#include "core/Vardo.h"

class CycleOrder {
  public:
    // The order for the document as it is now.
    explicit CycleOrder(const ServerDoc& doc);
    // The list index of the host checked at position; past the last host it is the same
    // position (the list may have grown since), so the document says there is no such host.
    std::size_t indexAt(std::size_t position) const {
        return position < order_.size() ? order_[position] : position + extra_;
    }

  private:
    std::vector<std::size_t> order_;
    // With a reordered list, positions past it lie beyond any host the list had.
    std::size_t extra_ = 0;
};

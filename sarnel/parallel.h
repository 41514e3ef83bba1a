// Splitting independent rows (or columns, or strips) of work across threads.
#pragma once

#include <functional>

namespace sarnel {

// Calls fn(begin, end) on disjoint consecutive ranges covering [0, count), on up to
// maxThreads() threads; ranges hold at least `grain` items so that small jobs stay
// on the calling thread. An exception thrown by any range is rethrown here after
// every thread has finished.
void parallelFor(int count, int grain, const std::function<void(int, int)>& fn);

} // namespace sarnel

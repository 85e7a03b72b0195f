// Counts every allocation of the benchmark process that goes through
// operator new, the libraries' included: the exchange path must not
// allocate, and the benchmarks report allocations per exchange.
#pragma once

namespace q7mbench {

long AllocationCount();

}  // namespace q7mbench

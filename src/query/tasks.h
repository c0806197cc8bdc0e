// Work made of OpenMP tasks, run where its tasks can share threads.
#pragma once

#include <omp.h>

// Runs `work`, which spawns OpenMP tasks: inside the enclosing parallel
// region when there is one, so that its tasks join that region's other
// tasks (a caller may prepare something else beside it); else on one
// thread of a region of its own, whose other threads run the tasks.
template <class Work>
void runWithTasks(Work work)
{
    if (omp_in_parallel()) {
        work();
    } else {
#pragma omp parallel
#pragma omp single
        work();
    }
}

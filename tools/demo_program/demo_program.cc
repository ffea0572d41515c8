// demo_program: a small multi-threaded heat solver, the program that
// `make demo` records with sample_synth --binary. It has what a recording
// names: functions of its own, an inlined stencil, two global grids that the
// threads split by rows, a residual under a lock, and per-thread counters
// packed into shared cache lines (false sharing, on purpose).
//   demo_program [THREADS [STEPS]]     defaults: 4 threads, 100 steps
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace demo {

const int grid_size = 512;  // cells per side: 2 MiB per grid
const int max_threads = 32;

double grid_current[grid_size][grid_size];
double grid_next[grid_size][grid_size];
// Cells relaxed by each thread. Packed eight to a 64-byte line, so that the
// threads that share a line take it from each other at every increment.
alignas(64) long cells_done[max_threads];
double residual;
std::mutex residual_lock;

// The new temperature of an inner cell, from its eight neighbours: those
// beside it weigh four times those across the corners.
inline double stencil(int i, int j) {
  const double side = grid_current[i - 1][j] + grid_current[i + 1][j] +
                      grid_current[i][j - 1] + grid_current[i][j + 1];
  const double corner = grid_current[i - 1][j - 1] + grid_current[i - 1][j + 1] +
                        grid_current[i + 1][j - 1] + grid_current[i + 1][j + 1];
  return (4 * side + corner) / 20;
}

void add_residual(double change) {
  std::lock_guard<std::mutex> hold(residual_lock);
  residual += change;
}

// One step of the rows [first, last) of the inner grid; returns the sum of
// the changes.
__attribute__((noinline)) double relax_rows(int first, int last, int thread) {
  double change = 0;
  for (int i = first; i < last; ++i) {
    for (int j = 1; j < grid_size - 1; ++j) {
      double value = stencil(i, j);
      change += std::fabs(value - grid_current[i][j]);
      grid_next[i][j] = value;
      ++cells_done[thread];
    }
  }
  return change;
}

void worker(int thread, int threads) {
  const int rows = grid_size - 2;
  int first = 1 + rows * thread / threads;
  int last = 1 + rows * (thread + 1) / threads;
  add_residual(relax_rows(first, last, thread));
}

// A hot edge on the left, cold elsewhere.
__attribute__((noinline)) void initialise() {
  for (int i = 0; i < grid_size; ++i) {
    grid_current[i][0] = grid_next[i][0] = 100.0;
  }
}

__attribute__((noinline)) void swap_grids() {
  for (int i = 1; i < grid_size - 1; ++i) {
    for (int j = 1; j < grid_size - 1; ++j) grid_current[i][j] = grid_next[i][j];
  }
}

// Runs the steps, each on a team of threads that relax their rows.
__attribute__((noinline)) void solve(int threads, int steps) {
  initialise();
  for (int step = 0; step < steps; ++step) {
    residual = 0;
    std::thread team[max_threads];
    for (int t = 0; t < threads; ++t) team[t] = std::thread(worker, t, threads);
    for (int t = 0; t < threads; ++t) team[t].join();
    swap_grids();
  }
}

}  // namespace demo

int main(int argc, char** argv) {
  int threads = argc > 1 ? std::atoi(argv[1]) : 4;
  int steps = argc > 2 ? std::atoi(argv[2]) : 100;
  if (threads < 1 || threads > demo::max_threads || steps < 1) {
    // Written without stdio's stderr, whose copy would count among the
    // program's global objects.
    const char usage[] = "usage: demo_program [THREADS (1 to 32) [STEPS]]\n";
    if (write(STDERR_FILENO, usage, std::strlen(usage)) < 0) return 2;
    return 1;
  }
  demo::solve(threads, steps);
  long cells = 0;
  for (int t = 0; t < threads; ++t) cells += demo::cells_done[t];
  std::printf("%d steps on %d threads: %ld cells, last change %.6f\n", steps, threads, cells,
              demo::residual);
  return 0;
}

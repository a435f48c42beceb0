// A headless range run of 8 slices split across 2 MPI ranks of 1 calculator
// each, against the same run as 1 process of 2 calculators (the baseline),
// both started as a user would: the whole program, loading and saving
// included. The ranks load the scan twice and meet at the end; the overhead
// is the difference of the wall times. The second case starts the baseline
// under mpirun with 1 rank, which leaves the split itself.
//
// The scans (8 rows of 1024 columns and 720 projections, and of 2048 columns
// and 1800 projections) are written once by vorlo2-phantom; every slice is
// saved as a float TIFF. The baseline and the split run alternate, so that
// load from other work on the machine falls on both alike; besides the wall
// times the processor time of all processes started is counted. Needs mpirun and a
// vorlo2 built with MPI beside this program; skipped otherwise.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string here()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string p(buf, n > 0 ? size_t(n) : 0);
    return p.substr(0, p.rfind('/'));
}

struct Fixture {
    std::string dir;
    std::string vorlo2;
    bool ready = false;
    std::string why;

    Fixture(int width, int projections)
    {
        const std::string bin = here();
        vorlo2 = bin + "/vorlo2";
        char tmpl[] = "/tmp/bench_mpi_XXXXXX";
        if (!::mkdtemp(tmpl)) {
            why = "no temporary folder";
            return;
        }
        dir = tmpl;
        if (std::system("command -v mpirun > /dev/null") != 0) {
            why = "mpirun not found (tools/install-deps.sh mpi)";
            return;
        }
        const std::string make = "'" + bin + "/vorlo2-phantom' scan --out '" + dir
            + "/scan' --width " + std::to_string(width) + " --height 8 --projections "
            + std::to_string(projections) + " > /dev/null";
        if (std::system(make.c_str()) != 0) {
            why = "vorlo2-phantom could not write the scan";
            return;
        }
        for (int threads : { 1, 2 }) {
            std::ofstream bat(dir + "/job" + std::to_string(threads) + ".bat");
            bat << "images_new_on_load 1\nct_rot_ax_is_v 1\nimages_load scan proj_*.img\n"
                   "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor "
                << width / 2
                << "\n"
                   "ct_slice_from 0\nct_slice_to 7\nct_slice_step 1\nct_threads "
                << threads
                << "\nauto_save_tiff_path out\nauto_save_tiff_name s\nauto_save_tiff 1\n"
                   "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n";
        }
        ready = true;
    }
    ~Fixture()
    {
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
    }
};

// One scan per size, written when first asked for.
Fixture &fixture(int width, int projections)
{
    static std::map<std::pair<int, int>, std::unique_ptr<Fixture>> scans;
    auto &f = scans[{ width, projections }];
    if (!f)
        f = std::make_unique<Fixture>(width, projections);
    return *f;
}

std::string mpirun(int ranks)
{
    std::string cmd = "mpirun --oversubscribe --bind-to none --mca btl self,vader"
                      " --mca btl_vader_single_copy_mechanism none -np "
        + std::to_string(ranks);
    if (::geteuid() == 0)
        cmd += " --allow-run-as-root";
    return cmd + " ";
}

std::string command(const Fixture &f, int ranks, int threads, bool launcher)
{
    return "cd '" + f.dir + "' && rm -rf out && env -u DISPLAY "
        + (launcher ? mpirun(ranks) : std::string()) + "'" + f.vorlo2 + "' -nw -e -b job"
        + std::to_string(threads) + ".bat -x > /dev/null 2>&1";
}

// Processor seconds (user and system) of every process this one started and
// waited for, the ranks and the launcher included.
double childCpu()
{
    rusage u {};
    ::getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Wall seconds of one run; negative when it failed. cpu: its processor seconds.
double timed(const std::string &cmd, double &cpu)
{
    const double c0 = childCpu();
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    const auto t1 = std::chrono::steady_clock::now();
    cpu = childCpu() - c0;
    return rc == 0 ? std::chrono::duration<double>(t1 - t0).count() : -1.0;
}

// The baseline and the split run alternate, so that load from other work on
// the machine falls on both alike. The iteration time is the split run's;
// the counters give the baseline's mean and the overhead in per cent.
void BM_TwoRanksAgainstOneProcess(benchmark::State &state)
{
    Fixture &f = fixture(int(state.range(0)), int(state.range(1)));
    if (!f.ready) {
        state.SkipWithError(f.why.c_str());
        return;
    }
    const bool viaLauncher = state.range(2) != 0;
    const std::string base = command(f, 1, 2, viaLauncher);
    const std::string split = command(f, 2, 1, true);
    double baseSum = 0, splitSum = 0, baseCpu = 0, splitCpu = 0;
    int n = 0;
    for (auto _ : state) {
        const bool baseFirst = n % 2 == 0;
        double cpuA = 0, cpuB = 0, cpuC = 0;
        const double a = baseFirst ? timed(base, cpuA) : -2;
        const double b = timed(split, cpuB);
        const double c = baseFirst ? a : timed(base, cpuC);
        if (b < 0 || c < 0) {
            state.SkipWithError("a run failed");
            return;
        }
        baseSum += c;
        splitSum += b;
        baseCpu += baseFirst ? cpuA : cpuC;
        splitCpu += cpuB;
        ++n;
        state.SetIterationTime(b);
    }
    state.counters["one_process_s"] = baseSum / n;
    state.counters["two_ranks_s"] = splitSum / n;
    state.counters["overhead_%"] = 100.0 * (splitSum - baseSum) / baseSum;
    state.counters["one_process_cpu_s"] = baseCpu / n;
    state.counters["two_ranks_cpu_s"] = splitCpu / n;
    state.counters["cpu_overhead_%"] = 100.0 * (splitCpu - baseCpu) / baseCpu;
}

} // namespace

// Arguments: detector columns, projections, and 0 for the baseline started
// directly, 1 for the baseline under mpirun with 1 rank.
BENCHMARK(BM_TwoRanksAgainstOneProcess)
    ->Args({ 1024, 720, 0 })
    ->Args({ 1024, 720, 1 })
    ->Args({ 2048, 1800, 0 })
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);

BENCHMARK_MAIN();

// Measures how closely brisko keeps to the pauses the device needs, and what
// CPU it uses while it waits: runs brisko against the simulated device
// (devsim, with a private /dev) and prints the figures of bench_report.h.
// Between the runs the same pauses are paced without brisko, through
// pause_ms and through a plain clock_nanosleep.
//
//   brisko_bench [--runs N] [--with-log-and-title]
//
// With --with-log-and-title every run is followed by one with --log and with
// standard output a terminal, as the title with the time left wants it, and
// the two are set side by side from the same minute.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "simulator/devsim_run.h"

namespace {

// The plain pacer: an absolute sleep on the monotonic clock to `ms` from now,
// with the thread's timer slack left as it is.
void plain_pause_ms(int ms) {
    timespec when{};
    clock_gettime(CLOCK_MONOTONIC, &when);
    when.tv_sec += ms / 1000;
    when.tv_nsec += ms % 1000 * 1000000L;
    if (when.tv_nsec >= 1000000000L) {
        ++when.tv_sec;
        when.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

double ms_of(const timeval& tv) {
    return tv.tv_sec * 1e3 + tv.tv_usec / 1e3;
}

// Inner mode, run by devsim inside its private /dev: runs brisko and writes
// its wall and CPU time to `report`. With `terminal`, brisko's standard
// input and output are a pseudo-terminal that is its controlling terminal,
// as in a terminal window, with a key typed ahead for its prompt.
int measure(const char* report, bool terminal, char** argv) {
    int master = -1;
    if (terminal) {
        // devsim's private /dev reaches the multiplexer through devpts only.
        for (const char* ptmx : {"/dev/ptmx", "/dev/pts/ptmx"}) {
            master = master >= 0 ? master : open(ptmx, O_RDWR | O_NOCTTY | O_CLOEXEC);
        }
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            return 72;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (terminal) {
            setsid();
            const int slave = open(ptsname(master), O_RDWR);
            dup2(slave, STDIN_FILENO);
            dup2(slave, STDOUT_FILENO);
        }
        execv(argv[0], argv);
        _exit(127);
    }
    std::thread reader;
    if (terminal) {
        const char key = 'x';
        if (write(master, &key, 1) != 1) {
            return 73;
        }
        // Takes the output, titles and all, until the terminal closes.
        reader = std::thread([master] {
            char sink[512];
            while (read(master, sink, sizeof sink) > 0) {
            }
        });
    }
    int status = 0;
    rusage usage{};
    const bool waited = pid > 0 && wait4(pid, &status, 0, &usage) == pid;
    if (terminal) {
        reader.join();
        close(master);
    }
    if (!waited) {
        return 71;
    }
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::ofstream(report) << wall << " " << ms_of(usage.ru_utime) + ms_of(usage.ru_stime) << "\n";
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One run of brisko under devsim, in a fresh directory, with kSilentPorts
// silent ports tried before the device.
// With `options`, brisko writes a log and shows its title on a terminal.
RunFigures run_once(const std::string& self, bool options, long* log_bytes) {
    RunFigures figures;
    char tmpl[] = "/tmp/brisko_bench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        return figures;
    }
    const std::string dir = tmpl;
    const std::string report = dir + "/usage.txt";
    std::vector<std::string> inner = {"--measure", report, BRISKO_PATH};
    if (options) {
        inner = {"--measure-on-terminal", report, BRISKO_PATH, "--log", dir + "/run.log"};
    }
    const DevsimRun run = run_under_devsim(
        DEVSIM_PATH,
        {"--tables", std::to_string(kBenchTables), "--entries", std::to_string(kBenchEntries),
         "--silent-ports", std::to_string(kSilentPorts)},
        self, inner, dir, 600000);
    std::error_code no_size;
    *log_bytes =
        options ? static_cast<long>(std::filesystem::file_size(dir + "/run.log", no_size)) : 0;
    std::ifstream usage(report);
    figures.ok = run.exit_status == 0 && read_wire(run.wire, &figures) == kRunBytes &&
                 static_cast<bool>(usage >> figures.wall >> figures.cpu);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return figures;
}

double median_of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && (std::strcmp(argv[1], "--measure") == 0 ||
                      std::strcmp(argv[1], "--measure-on-terminal") == 0)) {
        return measure(argv[2], std::strcmp(argv[1], "--measure-on-terminal") == 0, argv + 3);
    }
    int runs = 3;
    bool with_options = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--with-log-and-title") == 0) {
            with_options = true;
        }
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();

    print_heading("", true);
    if (with_options) {
        std::printf("(every run marked + ran with --log and the title on a terminal)\n");
    }
    // Wire span over the reference and CPU share, without and with the options.
    std::vector<double> span[2];
    std::vector<double> share[2];
    long log_bytes = 0;
    References before = pace_references(plain_pause_ms);
    for (int i = 1; i <= runs; ++i) {
        for (int options = 0; options <= (with_options ? 1 : 0); ++options) {
            RunFigures figures = run_once(self, options == 1, &log_bytes);
            const References after = pace_references(plain_pause_ms);
            set_references(&figures, before, after);
            before = after;
            if (print_run(i, figures, options == 1 ? "+" : " ") != 0) {
                std::printf("(is devsim able to make a private /dev here?)\n");
                return 1;
            }
            span[options].push_back(figures.wire_span / figures.reference);
            share[options].push_back(figures.cpu / figures.wall);
        }
    }
    if (with_options) {
        std::printf("\nwithout --log and the title: wire span / ref %.4f, CPU %.3f%% (medians)\n",
                    median_of(span[0]), median_of(share[0]) * 100);
        std::printf(
            "with    --log and the title: wire span / ref %.4f, CPU %.3f%% (medians); "
            "log %ld bytes\n",
            median_of(span[1]), median_of(share[1]) * 100, log_bytes);
    }
    return print_verdict();
}

// Time per data row, including the close, the reopen and the sync to disk.

#include "benchutil.h"
#include "measurement/datafile.h"
#include "measurement/history.h"
#include "measurement/recording.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kp33;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    test::ProgramFolder folder;
    FileType = false;
    history().StoreAndUpdate(21.5L);
    constexpr int rows = 200;
    std::vector<double> times;
    for (int i = 0; i < rows; ++i) {
        const double t0 = bench::wallMs();
        if (!WriteDataRow(21.5L).ok) {
            std::fprintf(stderr, "bench_datafile: row %d failed\n", i);
            return 1;
        }
        times.push_back(bench::wallMs() - t0);
    }
    CloseDataFile();
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf("bench_datafile: %d rows in %s\n", rows, qPrintable(folder.path()));
    std::printf("bench_datafile: per row (close, reopen, write, fdatasync): mean %.3f ms, median %.3f ms, worst %.3f ms\n",
                sum / rows, times[rows / 2], times.back());
    std::printf("bench_datafile: share of a 1000 ms cycle at the worst: %.2f %%\n", times.back() / 10.0);
    return 0;
}

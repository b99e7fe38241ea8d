#include "report/SeriesGrading.h"

#include "page/PageGrade.h"

#include <algorithm>
#include <deque>
#include <map>
#include <system_error>
#include <thread>

namespace raitakone::report {
namespace {

struct Job {
    size_t input = 0;
    int pdfPage = 1;
};

ScannedPage gradeJob(const ScanInput& input, const Job& job, const SeriesOptions& options, int* pages)
{
    ScannedPage page;
    page.source = job.pdfPage > 1 ? QStringLiteral("%1, sivu %2").arg(input.path).arg(job.pdfPage) : input.path;
    page.named = input.named;
    grading::ScanLoad load = grading::loadScan(input.path, options.scanDpi, options.grading.stopRequested, job.pdfPage);
    *pages = load.pages;
    if (!load.scan) {
        page.error = load.error;
        return page;
    }
    if (load.pages > 1 && job.pdfPage == 1)
        page.source = QStringLiteral("%1, sivu 1").arg(input.path);
    else if (!load.notice.isEmpty())
        page.notice = load.notice;
    page.result = grading::gradePageWithinMemory(*load.scan, options.grading);
    return page;
}

} // namespace

std::vector<ScannedPage> gradeSeries(const std::vector<ScanInput>& inputs, const SeriesOptions& options,
                                     const ScanGraded& graded)
{
    std::mutex lock;
    std::deque<Job> queue;
    for (size_t i = 0; i < inputs.size(); ++i)
        queue.push_back({i, 1});
    std::map<std::pair<size_t, int>, ScannedPage> done;
    const auto stopped = [&options] { return options.grading.stopRequested && options.grading.stopRequested(); };

    const auto work = [&] {
        for (;;) {
            Job job;
            {
                const std::lock_guard<std::mutex> guard(lock);
                if (queue.empty() || stopped())
                    return;
                job = queue.front();
                queue.pop_front();
            }
            int pages = 1;
            ScannedPage page = gradeJob(inputs[job.input], job, options, &pages);
            const std::lock_guard<std::mutex> guard(lock);
            // A PDF's further pages are known once its first is opened.
            if (job.pdfPage == 1)
                for (int p = 2; p <= pages; ++p)
                    queue.push_back({job.input, p});
            if (graded)
                graded(page);
            done.emplace(std::make_pair(job.input, job.pdfPage), std::move(page));
        }
    };
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const int threads = std::clamp(options.threads > 0 ? options.threads : cores, 1, kMaxGradingThreads);
    std::vector<std::thread> workers;
    try {
        for (int t = 1; t < std::min<int>(threads, int(inputs.size())); ++t)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // Short of memory for another thread: the ones running do the work.
    }
    work();
    for (std::thread& w : workers)
        w.join();

    std::vector<ScannedPage> pages;
    pages.reserve(done.size());
    for (auto& [key, page] : done)
        pages.push_back(std::move(page));
    return pages;
}

ScannedPage gradeScannedPage(const grading::Scan& scan, const QString& source,
                             const std::optional<marking::PageIdentity>& named, const grading::GradeOptions& options)
{
    ScannedPage page;
    page.source = source;
    page.named = named;
    page.result = grading::gradePageWithinMemory(scan, options);
    return page;
}

} // namespace raitakone::report

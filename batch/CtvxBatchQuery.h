#pragma once

#include <batch/CtvxBatchResult.h>
#include <batch/tvxBatchExport.h>

#include <tvx/analysis/CtvxAnalysis.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

class CtvxBatchBody;

// One query type between two bodies at many poses of the second, on a pool
// of threads.
//
// Create it over two bodies, set the query type, the thread count, A's
// placement and a progress function if wanted, and call run() with the
// poses of B; it fills one CtvxBatchResult per pose, in pose order. Each
// worker thread makes its own polyhedra over the bodies' meshes (adopting
// the trees built once per mesh), its own two collision lists (A's parts
// and B's parts) and its own analysis; nothing of a scene is shared between
// threads, only the meshes and their trees, which a query only reads.
//
// Every pose is answered as a fresh scene would answer it: before each pose
// the worker forgets the pair the last query met first and resets the
// last-closest hints of its polyhedra, so no answer depends on which thread
// ran the pose or on what it ran before. That matters beyond speed: the
// hint decides which contact pair a distance query reports when it starts
// on one, and the estimated clearance is a lower bound found from it. So
// the results are the same, bit for bit, whatever the thread count, and
// equal to those of a single query on new polyhedra.
//
// run() blocks the calling thread, which does no query itself: it calls the
// progress function every progressInterval seconds and once at the end;
// returning false from it cancels the batch (poses not started stay
// NOT_RUN). cancel() does the same from any thread.
class TVXBATCH_API CtvxBatchQuery {
public:
    // done poses of total; false stops the batch.
    typedef std::function<bool(std::size_t done, std::size_t total)> ProgressFunction;

    static boost::shared_ptr<CtvxBatchQuery> create(boost::shared_ptr<CtvxBatchBody> const& a,
                                                    boost::shared_ptr<CtvxBatchBody> const& b);

    CtvxBatchQuery(CtvxBatchQuery const&) = delete;
    CtvxBatchQuery& operator=(CtvxBatchQuery const&) = delete;
    ~CtvxBatchQuery();

    void analysisType(CtvxAnalysis::EAnalysisType type) { m_type = type; }
    CtvxAnalysis::EAnalysisType analysisType() const { return m_type; }
    // Worker threads; 0 (the default) means one per hardware thread. A
    // batch never starts more workers than it has poses.
    void threads(unsigned int count) { m_threads = count; }
    unsigned int threads() const { return m_threads; }
    // A's placement for every pose (identity by default). Returns -1 and
    // keeps the old one when it is not a finite rigid placement.
    int placementA(CqarMat4 const& placement);
    void progress(ProgressFunction function, double intervalSeconds = 0.1);

    // Runs the query at n poses of B, each 16 doubles of a row-major rigid
    // 4x4, and writes n records to out. Returns 0 when every pose ran; -1
    // when a pose is not a finite rigid placement (nothing runs), when the
    // batch was cancelled, or when a worker failed (memory ran out), and
    // error() says which. A pose whose query could not examine every pair
    // (a part's tree was refused) is INCOMPLETE, never "no contact".
    int run(double const* posesB, std::size_t n, CtvxBatchResult* out);

    // Why the last run() returned -1 (empty after a complete run).
    std::string const& error() const { return m_error; }
    bool cancelled() const { return m_cancelled.load(); }
    // Asks a running batch to stop after the poses under way.
    void cancel() { m_cancelled.store(true); }

    // The number of workers a run over n poses starts.
    unsigned int workerCount(std::size_t n) const;

protected:
    CtvxBatchQuery() = default;

private:
    void invariant() const {}

    boost::shared_ptr<CtvxBatchBody> m_a;
    boost::shared_ptr<CtvxBatchBody> m_b;
    CtvxAnalysis::EAnalysisType m_type = CtvxAnalysis::EXACT_DISTANCE;
    unsigned int m_threads = 0;
    CqarMat4 m_placementA;
    ProgressFunction m_progress;
    double m_progressInterval = 0.1;
    std::string m_error;
    std::atomic<bool> m_cancelled{false};
};

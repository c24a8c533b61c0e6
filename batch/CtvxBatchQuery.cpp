#include <batch/CtvxBatchQuery.h>

#include <batch/CtvxBatchBody.h>

#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace {

double const kNaN = std::numeric_limits<double>::quiet_NaN();

CtvxBatchResult notRun()
{
    CtvxBatchResult r;
    r.status = CtvxBatchResult::NOT_RUN;
    r.clearance = kNaN;
    for (int k = 0; k < 3; ++k)
        r.closestA[k] = r.closestB[k] = kNaN;
    return r;
}

bool isIdentity(CqarMat4 const& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m(r, c) != (r == c ? 1.0 : 0.0))
                return false;
    return true;
}

// One side of a worker's scene: a polyhedron per part of the body, over the
// body's meshes, in one collision list.
struct Side {
    std::vector<boost::shared_ptr<CtvxPolyhedron>> polyhedra;
    // A part placed by the identity is placed by the pose itself rather
    // than by pose * I, which would turn a -0 of the pose into +0.
    std::vector<bool> identityPart;
    boost::shared_ptr<CtvxCollisionList> list;

    Side(CtvxBatchBody const& body, CqarMat4 const* fixedPlacement)
    {
        list = CtvxCollisionList::create();
        boost::shared_ptr<CtvxProgressDelegate> noDelegate;
        for (unsigned int i = 0; i < body.countParts(); ++i) {
            boost::shared_ptr<CtvxPolyhedronData> mesh = body.partMesh(i);
            boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(mesh);
            p->setTolerance(body.partTolerance(i));
            // Finds the tree the body built over this mesh and adopts it.
            p->makeCollisionEntity(noDelegate);
            polyhedra.push_back(p);
            identityPart.push_back(isIdentity(body.partPlacement(i)));
            list->add(p);
        }
        if (fixedPlacement)
            place(*fixedPlacement, body);
    }

    void place(CqarMat4 const& pose, CtvxBatchBody const& body)
    {
        for (std::size_t i = 0; i < polyhedra.size(); ++i) {
            if (identityPart[i])
                polyhedra[i]->absolutePosition(pose);
            else
                polyhedra[i]->absolutePosition(pose * body.partPlacement(static_cast<unsigned int>(i)));
        }
    }

    void forgetHints()
    {
        for (boost::shared_ptr<CtvxPolyhedron> const& p : polyhedra)
            p->setLastClosestInfo(-1);
    }
};

// What one thread owns: both sides of its own scene and its own analysis.
class Worker {
public:
    Worker(CtvxBatchBody const& a, CtvxBatchBody const& b, CqarMat4 const& placementA,
           CtvxAnalysis::EAnalysisType type)
        : m_bodyB(b), m_a(a, &placementA), m_b(b, nullptr), m_analysis(CtvxAnalysis::create()), m_type(type)
    {
        m_analysis->setAnalysisType(type);
    }

    void answer(double const* pose, CtvxBatchResult& out)
    {
        CqarMat4 m;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                m(r, c) = pose[4 * r + c];
        m_b.place(m, m_bodyB);
        // A fresh scene's state: hints at nothing, and no remembered object
        // pair (setting a list forgets it).
        m_a.forgetHints();
        m_b.forgetHints();
        m_analysis->setCollisionList1(m_a.list);
        m_analysis->setCollisionList2(m_b.list);
        m_analysis->compute();
        read(out);
    }

private:
    void read(CtvxBatchResult& out) const
    {
        out = notRun();
        out.status = CtvxBatchResult::ANSWERED;
        for (unsigned int i = 0; i < m_analysis->countCollisions(); ++i) {
            boost::shared_ptr<CtvxCollision> c;
            m_analysis->getCollision(i, c);
            out.contact = true;
            out.pairCount += c->countPairs();
        }
        // Pairs left unexamined: no contact, or a clearance, would not be an
        // answer.
        if (!m_analysis->isComplete()) {
            out.status = CtvxBatchResult::INCOMPLETE;
            return;
        }
        bool const distanceType =
            m_type == CtvxAnalysis::EXACT_DISTANCE || m_type == CtvxAnalysis::ESTIMATED_DISTANCE;
        if (!distanceType || out.contact)
            return;
        if (m_analysis->countDistances() == 0) {
            out.status = CtvxBatchResult::NO_ANSWER;
            return;
        }
        boost::shared_ptr<CtvxDistance> d;
        m_analysis->getDistance(0, d);
        out.clearance = d->distance();
        out.exact = d->isExactDistance();
        if (out.exact) {
            boost::shared_ptr<CtvxGeometryPoint> p1, p2;
            d->getClosestPoint1(p1);
            d->getClosestPoint2(p2);
            CqarPoint3 pa, pb;
            p1->pointAbsolute(pa);
            p2->pointAbsolute(pb);
            for (int k = 0; k < 3; ++k) {
                out.closestA[k] = pa[k];
                out.closestB[k] = pb[k];
            }
        }
    }

    CtvxBatchBody const& m_bodyB;
    Side m_a;
    Side m_b;
    boost::shared_ptr<CtvxAnalysis> m_analysis;
    CtvxAnalysis::EAnalysisType m_type;
};

// Joins the workers however run() leaves (a progress function may throw).
struct JoinAll {
    std::vector<std::thread>& threads;
    std::atomic<bool>& stop;
    ~JoinAll()
    {
        stop.store(true);
        for (std::thread& t : threads)
            if (t.joinable())
                t.join();
    }
};

} // namespace

boost::shared_ptr<CtvxBatchQuery> CtvxBatchQuery::create(boost::shared_ptr<CtvxBatchBody> const& a,
                                                         boost::shared_ptr<CtvxBatchBody> const& b)
{
    boost::shared_ptr<CtvxBatchQuery> q(new CtvxBatchQuery());
    q->m_a = a;
    q->m_b = b;
    return q;
}

CtvxBatchQuery::~CtvxBatchQuery() = default;

int CtvxBatchQuery::placementA(CqarMat4 const& placement)
{
    if (!CtvxBatchBody::isRigid(placement))
        return -1;
    m_placementA = placement;
    return 0;
}

void CtvxBatchQuery::progress(ProgressFunction function, double intervalSeconds)
{
    m_progress = std::move(function);
    m_progressInterval = intervalSeconds > 0.0 ? intervalSeconds : 0.1;
}

unsigned int CtvxBatchQuery::workerCount(std::size_t n) const
{
    unsigned int k = m_threads;
    if (k == 0)
        k = std::max(1u, std::thread::hardware_concurrency());
    if (n < k)
        k = static_cast<unsigned int>(std::max<std::size_t>(n, 1));
    return k;
}

int CtvxBatchQuery::run(double const* posesB, std::size_t n, CtvxBatchResult* out)
{
    m_error.clear();
    m_cancelled.store(false);
    if (!m_a || !m_b) {
        m_error = "the batch has no bodies";
        return -1;
    }
    if (n > 0 && (!posesB || !out)) {
        m_error = "no poses or no room for the results";
        return -1;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!CtvxBatchBody::isRigid(posesB + 16 * i)) {
            m_error = "pose " + std::to_string(i) + " is not a rigid placement (finite, rotation orthonormal " +
                      "within 1e-6 with determinant +1, bottom row 0 0 0 1)";
            return -1;
        }
    }
    std::fill(out, out + n, notRun());
    if (n == 0)
        return 0;
    boost::shared_ptr<CtvxProgressDelegate> noDelegate;
    m_a->buildTrees(noDelegate);
    m_b->buildTrees(noDelegate);

    unsigned int const k = workerCount(n);
    // Poses are handed out in chunks from one counter: small enough that the
    // workers end together, large enough that the counter is not contended.
    // Which worker answers a pose does not change its answer.
    std::size_t const chunk = std::min<std::size_t>(64, std::max<std::size_t>(1, n / (16 * k)));
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned int running = k;
    std::string failure;

    CtvxBatchBody const& a = *m_a;
    CtvxBatchBody const& b = *m_b;
    CqarMat4 const placementA = m_placementA;
    CtvxAnalysis::EAnalysisType const type = m_type;
    auto work = [&]() {
        try {
            Worker worker(a, b, placementA, type);
            while (!stop.load(std::memory_order_relaxed) && !m_cancelled.load(std::memory_order_relaxed)) {
                std::size_t const first = next.fetch_add(chunk);
                if (first >= n)
                    break;
                std::size_t const last = std::min(n, first + chunk);
                for (std::size_t i = first; i < last; ++i)
                    worker.answer(posesB + 16 * i, out[i]);
                done.fetch_add(last - first);
            }
        } catch (std::exception const& e) {
            std::lock_guard<std::mutex> const lock(mutex);
            if (failure.empty())
                failure = std::string("a worker failed: ") + e.what();
            stop.store(true);
        }
        std::lock_guard<std::mutex> const lock(mutex);
        --running;
        finished.notify_all();
    };

    std::vector<std::thread> threads;
    {
        JoinAll const joiner{threads, stop};
        threads.reserve(k);
        for (unsigned int i = 0; i < k; ++i)
            threads.emplace_back(work);
        auto const interval = std::chrono::duration<double>(m_progressInterval);
        for (;;) {
            bool allDone;
            {
                std::unique_lock<std::mutex> lock(mutex);
                allDone = finished.wait_for(lock, interval, [&] { return running == 0; });
            }
            if (m_progress && !m_progress(done.load(), n))
                m_cancelled.store(true);
            if (allDone)
                break;
        }
        for (std::thread& t : threads)
            t.join();
    }
    if (!failure.empty()) {
        m_error = failure;
        return -1;
    }
    if (m_cancelled.load()) {
        m_error = "cancelled after " + std::to_string(done.load()) + " of " + std::to_string(n) + " poses";
        return -1;
    }
    return 0;
}

// The C++ reference for the batch benchmarks (python/bench/batch_bench.py):
// the same poses answered by a plain loop over one scene, by that loop with
// the hints reset before each pose, or by the batch engine, timed in CPU
// time (all threads) and wall time, with a checksum of the answers so that
// the modes can be seen to agree.
//
//   batch_loop A B POSES TYPE MODE [THREADS]
//     POSES   raw little-endian doubles, 16 a pose (row-major 4x4)
//     TYPE    first | all | exact | estimated
//     MODE    loop | fresh | engine
// Prints: cpu_seconds wall_seconds poses contacts clearance_sum

#include <batch/CtvxBatchBody.h>
#include <batch/CtvxBatchQuery.h>
#include <tools/import/MeshImport.h>
#include <tools/import/PolyhedronFromMesh.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

boost::shared_ptr<CtvxPolyhedronData> load(char const* path)
{
    tvxio::ImportedMesh mesh;
    std::string error;
    if (tvxio::importMesh(path, tvxio::ImportOptions(), mesh, error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(2);
    }
    return tvxio::makePolyhedronData(mesh.parts.front());
}

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: batch_loop A B POSES first|all|exact|estimated loop|fresh|engine [THREADS]\n");
        return 2;
    }
    std::ifstream in(argv[3], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<double> poses(bytes.size() / sizeof(double));
    std::memcpy(poses.data(), bytes.data(), poses.size() * sizeof(double));
    std::size_t const n = poses.size() / 16;
    std::string const typeName = argv[4], mode = argv[5];
    CtvxAnalysis::EAnalysisType const type = typeName == "first" ? CtvxAnalysis::FIRST_COLLISION
                                             : typeName == "all" ? CtvxAnalysis::ALL_COLLISIONS
                                             : typeName == "estimated" ? CtvxAnalysis::ESTIMATED_DISTANCE
                                                                       : CtvxAnalysis::EXACT_DISTANCE;
    boost::shared_ptr<CtvxPolyhedronData> dataA = load(argv[1]), dataB = load(argv[2]);
    boost::shared_ptr<CtvxPolyhedron> a = CtvxPolyhedron::create(dataA), b = CtvxPolyhedron::create(dataB);
    boost::shared_ptr<CtvxProgressDelegate> none;
    a->makeCollisionEntity(none);
    b->makeCollisionEntity(none);

    std::size_t contacts = 0;
    double sum = 0.0;
    double const cpu0 = cpuSeconds();
    auto const wall0 = std::chrono::steady_clock::now();
    if (mode == "engine") {
        boost::shared_ptr<CtvxBatchBody> ba = CtvxBatchBody::create(), bb = CtvxBatchBody::create();
        ba->addPart(dataA);
        bb->addPart(dataB);
        boost::shared_ptr<CtvxBatchQuery> q = CtvxBatchQuery::create(ba, bb);
        q->analysisType(type);
        q->threads(argc > 6 ? static_cast<unsigned int>(std::atoi(argv[6])) : 0);
        std::vector<CtvxBatchResult> out(n);
        if (q->run(poses.data(), n, out.data()) != 0) {
            std::fprintf(stderr, "%s\n", q->error().c_str());
            return 1;
        }
        for (CtvxBatchResult const& r : out) {
            contacts += r.contact;
            if (std::isfinite(r.clearance))
                sum += r.clearance;
        }
    } else {
        boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create(), l2 = CtvxCollisionList::create();
        l1->add(a);
        l2->add(b);
        boost::shared_ptr<CtvxAnalysis> an = CtvxAnalysis::create();
        an->setCollisionList1(l1);
        an->setCollisionList2(l2);
        an->setAnalysisType(type);
        bool const fresh = mode == "fresh";
        for (std::size_t i = 0; i < n; ++i) {
            CqarMat4 m;
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    m(r, c) = poses[16 * i + static_cast<std::size_t>(4 * r + c)];
            b->absolutePosition(m);
            if (fresh) {
                a->setLastClosestInfo(-1);
                b->setLastClosestInfo(-1);
                an->setCollisionList1(l1);
                an->setCollisionList2(l2);
            }
            an->compute();
            if (an->countCollisions() > 0) {
                ++contacts;
            } else if (an->countDistances() > 0 && type >= CtvxAnalysis::EXACT_DISTANCE) {
                boost::shared_ptr<CtvxDistance> d;
                an->getDistance(0, d);
                sum += d->distance();
            }
        }
    }
    double const cpu = cpuSeconds() - cpu0;
    double const wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    std::printf("%.6f %.6f %zu %zu %.9g\n", cpu, wall, n, contacts, sum);
    return 0;
}

#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/internal/CtvxObbTreeBuild.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/scene/CtvxObjectOBB.h>

CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement CtvxPolyhedronOBBTreeFactory::m_algoObbPlacement =
    CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT;
bool CtvxPolyhedronOBBTreeFactory::s_conservativeBoxes = true;
bool CtvxPolyhedronOBBTreeFactory::s_scaleFreeAxes = false;

boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> CtvxPolyhedronOBBTreeFactory::create()
{
    boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> factory(new CtvxPolyhedronOBBTreeFactory());
    factory->init(factory);
    return factory;
}

CtvxPolyhedronOBBTreeFactory::~CtvxPolyhedronOBBTreeFactory() = default;

void CtvxPolyhedronOBBTreeFactory::init(boost::shared_ptr<CtvxPolyhedronOBBTreeFactory>&) {}

CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement CtvxPolyhedronOBBTreeFactory::algoObbPlacement()
{
    return m_algoObbPlacement;
}

void CtvxPolyhedronOBBTreeFactory::algoObbPlacement(EAlgoObbPlacement algo)
{
    m_algoObbPlacement = algo == OBB_PLACEMENT_AABB_LIKE ? OBB_PLACEMENT_AABB_LIKE : OBB_PLACEMENT_DEFAULT;
}

bool CtvxPolyhedronOBBTreeFactory::conservativeBoxes()
{
    return s_conservativeBoxes;
}

void CtvxPolyhedronOBBTreeFactory::conservativeBoxes(bool on)
{
    s_conservativeBoxes = on;
}

bool CtvxPolyhedronOBBTreeFactory::scaleFreeAxes()
{
    return s_scaleFreeAxes;
}

void CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(bool on)
{
    s_scaleFreeAxes = on;
}

void CtvxPolyhedronOBBTreeFactory::build(boost::shared_ptr<CtvxPoly>& poly,
                                         boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    // Only a poly whose tree is an OBB tree can be built; any other is left
    // as it is.
    CtvxPolyhedronOBBTree* const tree = poly ? dynamic_cast<CtvxPolyhedronOBBTree*>(poly->m_bvTree.get()) : nullptr;
    if (!tree)
        return;
    // The build's own reference keeps the delegate alive to the end, even
    // when the reference passed in is dropped by a report (the delegate may
    // be the last holder of itself, or the caller's global).
    boost::shared_ptr<CtvxProgressDelegate> const reportTo = delegate;
    CtvxObbTreeBuild treeBuild(*tree, m_algoObbPlacement == OBB_PLACEMENT_AABB_LIKE, s_conservativeBoxes,
                               s_scaleFreeAxes);
    std::unique_ptr<CtvxObjectOBB> own = treeBuild.run(*poly, reportTo.get());
    handOver(*poly, *tree, own.release());
}

void CtvxPolyhedronOBBTreeFactory::handOver(CtvxPoly& poly, CtvxPolyhedronOBBTree const& tree, CtvxObjectOBB* box)
{
    // The poly keeps the box only if the tree is still its own: a progress
    // delegate may have dropped or replaced it during the build.
    poly.takeBuiltBox(&tree, box);
}

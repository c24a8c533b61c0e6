#pragma once

#include <tvx/tvxExport.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

class CtvxObject;

// An ordered list of scene objects, the operand of an analysis.
//
// An analysis examines every object of its first list against every object
// of its second; an assembly in a list stands for everything below it. The
// list shares ownership of its objects, keeps insertion order and allows
// duplicates. computeComplementary() gives, for a scene root, the maximal
// sub-trees that avoid every listed object: a ready-made second list for
// "these objects against the rest of the scene".
class TVX_API CtvxCollisionList {
public:
    static boost::shared_ptr<CtvxCollisionList> create();
    // A list holding the same objects as other, in the same order.
    static boost::shared_ptr<CtvxCollisionList> create(boost::shared_ptr<CtvxCollisionList> const& other);

    CtvxCollisionList(CtvxCollisionList const&) = delete;
    CtvxCollisionList& operator=(CtvxCollisionList const&) = delete;
    virtual ~CtvxCollisionList();

    unsigned int countObjects() const { return static_cast<unsigned int>(m_objects.size()); }
    // Empty for a rank past the end.
    boost::shared_ptr<CtvxObject> object(unsigned int rank) const
    {
        return rank < m_objects.size() ? m_objects[rank] : boost::shared_ptr<CtvxObject>();
    }
    void add(boost::shared_ptr<CtvxObject> const& o);
    // Removes the first entry that is o; an absent object is ignored.
    void remove(boost::shared_ptr<CtvxObject> const& o);
    // The rank of the first entry that is o and 0, or -1 (rank unchanged).
    int getObjectRank(boost::shared_ptr<CtvxObject> const& o, unsigned int& rank) const;
    // Appends to out (emptied first unless append) the maximal sub-trees
    // under root that contain no listed object, depth first.
    void computeComplementary(boost::shared_ptr<CtvxObject> const& root, boost::shared_ptr<CtvxCollisionList>& out,
                              bool append) const;

    // Advances (never repeats) with every change of the entries, so that an
    // analysis can keep what it derived from the list while it stays the
    // same list.
    std::uint64_t revision() const { return m_revision; }

protected:
    CtvxCollisionList();
    void init() {}
    void init(boost::shared_ptr<CtvxCollisionList> const& other);

private:
    // The query reads the objects in place.
    friend class CtvxAnalysis;

    void resetList()
    {
        m_objects.clear();
        ++m_revision;
    }
    void complementStep(boost::shared_ptr<CtvxObject> const& root, CtvxCollisionList& out) const;
    void invariant() const {}

    std::vector<boost::shared_ptr<CtvxObject>> m_objects;
    std::uint64_t m_revision = 0;
};

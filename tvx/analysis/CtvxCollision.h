#pragma once

#include <tvx/tvxExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CtvxAnalysis;
class CtvxGeometrySubElement;
class CtvxObject;
class CtvxPairContext;

// The answer of a contact query for one pair of objects: the pairs of
// triangles found in contact.
//
// An analysis creates one per object pair in contact; the host reads the two
// objects (held weakly, so a result never keeps a scene alive) and the
// triangle pairs in the order the query found them: getFirst(i) lies on
// object 1, getSecond(i) on object 2. The result owns its sub-elements, which
// stay readable after the scene is gone. Only the analysis fills it.
class TVX_API CtvxCollision {
public:
    static boost::shared_ptr<CtvxCollision> create();
    static boost::shared_ptr<CtvxCollision> create(boost::shared_ptr<CtvxObject> const& o1,
                                                   boost::shared_ptr<CtvxObject> const& o2);
    CtvxCollision(CtvxCollision const&) = default;
    CtvxCollision& operator=(CtvxCollision const&) = default;
    ~CtvxCollision();

    int getObject1(boost::shared_ptr<CtvxObject>& out) const;
    int getObject2(boost::shared_ptr<CtvxObject>& out) const;
    unsigned int countPairs() const { return static_cast<unsigned int>(m_pairs.size()); }
    // i below countPairs(); not range-checked.
    void getFirst(unsigned int i, boost::shared_ptr<CtvxGeometrySubElement>& out) const;
    void getSecond(unsigned int i, boost::shared_ptr<CtvxGeometrySubElement>& out) const;

protected:
    CtvxCollision();
    void init();
    void init(boost::shared_ptr<CtvxObject> const& o1, boost::shared_ptr<CtvxObject> const& o2);

private:
    friend class CtvxAnalysis;
    friend class CtvxPairContext;

    struct Pair {
        boost::shared_ptr<CtvxGeometrySubElement> first;
        boost::shared_ptr<CtvxGeometrySubElement> second;
    };

    void addPair(boost::shared_ptr<CtvxGeometrySubElement> const& first,
                 boost::shared_ptr<CtvxGeometrySubElement> const& second);
    // Moves the pairs in: the triangles made for a contact are handed over
    // without a second reference count.
    void addPair(boost::shared_ptr<CtvxGeometrySubElement>&& first, boost::shared_ptr<CtvxGeometrySubElement>&& second);
    // Drops the pairs, for an analysis that did not keep this result and
    // fills it again. The objects stay: the analysis names them only in a
    // result it keeps.
    void reuse();
    void object1(boost::shared_ptr<CtvxObject> const& o) { m_object1 = o; }
    void object2(boost::shared_ptr<CtvxObject> const& o) { m_object2 = o; }
    void invariant() const {}

    boost::weak_ptr<CtvxObject> m_object1;
    boost::weak_ptr<CtvxObject> m_object2;
    std::vector<Pair> m_pairs;
};
